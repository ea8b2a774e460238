// In-page video against native windows, at 1, 4, 9 and 16 streams of the
// same live 1280x720 25 fps H.264 camera (camera-sim --stamp):
// - page: the service (offscreen, as on a Wayland desktop) plays the
//   streams for the demonstration page in "page" mode, in headless
//   Chromium; the figures are the service's CPU and RSS (from /proc) and
//   the delay from the camera's clock to the picture the page presents
//   (page_latency.js reads the clock back from a canvas);
// - native: the same streams in the video library's play windows, the code
//   the service runs for a native window (bench_video --run library N, a
//   process of its own); its delay is capture to paint.
// Page and native runs alternate (the order swapped every round); every
// figure is the median of the rounds with their range. Ports 28750-28759.
//
//   node --experimental-websocket bench/page.mjs BUILD_DIR
import { spawn, execFileSync } from "node:child_process";
import { copyFileSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { connect } from "node:net";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const build = resolve(process.argv[2] ?? "build-bench");
const ROUNDS = Number(process.env.BENCH_PAGE_ROUNDS ?? 2);
const COUNTS = (process.env.BENCH_PAGE_STREAMS ?? "1,4,9,16").split(",").map(Number);
const WARM_MS = 3000, MEASURE_MS = 8000;
const SERVICE_PORT = 28750, CAMERA_PORT = 28756, PAGE_PORT = 28757, DEBUG_PORT = 28758;

const work = mkdtempSync(join(tmpdir(), "page-bench-"));
const children = [];
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
function start(command, args, options = {}) {
  const child = spawn(command, args, { detached: true, stdio: ["ignore", "pipe", "pipe"], ...options });
  children.push(child);
  return child;
}
function cleanup() {
  for (const child of children) { try { process.kill(-child.pid, "SIGKILL"); } catch { /* gone */ } }
  rmSync(work, { recursive: true, force: true });
}
process.on("exit", cleanup);
process.on("SIGINT", () => process.exit(130));

async function waitPort(port) {
  for (let i = 0; i < 200; ++i) {
    const open = await new Promise((done) => {
      const socket = connect(port, "127.0.0.1", () => { socket.destroy(); done(true); });
      socket.on("error", () => done(false));
    });
    if (open) return;
    await sleep(100);
  }
  throw new Error(`nothing listens on port ${port}`);
}

const ticks = (pid) => readFileSync(`/proc/${pid}/stat`, "utf8").split(") ")[1].split(" ").slice(11, 13).reduce((a, b) => a + Number(b), 0);
const rssMiB = (pid) => Number(readFileSync(`/proc/${pid}/status`, "utf8").match(/VmRSS:\s+(\d+)/)[1]) / 1024;
const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b), half = sorted.length >> 1;
  return sorted.length % 2 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2;
};

// One tab of the browser, driven over DevTools.
class Tab {
  static async open(url) {
    const target = await (await fetch(`http://127.0.0.1:${DEBUG_PORT}/json/new?about:blank`, { method: "PUT" })).json();
    const tab = new Tab(target);
    await new Promise((done, fail) => { tab.socket.onopen = done; tab.socket.onerror = () => fail(new Error("DevTools")); });
    await tab.send("Page.navigate", { url });
    return tab;
  }
  constructor(target) {
    this.id = target.id;
    this.socket = new WebSocket(target.webSocketDebuggerUrl);
    this.sequence = 0;
    this.waiting = new Map();
    this.socket.onmessage = (e) => {
      const message = JSON.parse(e.data);
      this.waiting.get(message.id)?.(message);
      this.waiting.delete(message.id);
    };
  }
  send(method, params) {
    const id = ++this.sequence;
    const answer = new Promise((done) => this.waiting.set(id, done));
    this.socket.send(JSON.stringify({ id, method, params }));
    return answer;
  }
  async evaluate(expression) {
    const { result } = await this.send("Runtime.evaluate", { expression, awaitPromise: true, returnByValue: true });
    return result?.result?.value;
  }
  async close() {
    this.socket.close();
    await fetch(`http://127.0.0.1:${DEBUG_PORT}/json/close/${this.id}`).catch(() => {});
  }
}

// The service, camera-sim, the page server and the browser.
const cameraSim = join(build, "tools", "camera-sim");
const camera = start(cameraSim, ["--port", String(CAMERA_PORT), "--stamp"]);
const cameraUrl = await new Promise((done, fail) => {
  let text = "";
  camera.stdout.on("data", (data) => { text += data; const m = text.match(/ready (\S+)/); if (m) done(m[1]); });
  camera.on("exit", () => fail(new Error("camera-sim did not start")));
});
mkdirService();
function mkdirService() {
  copyFileSync(join(build, "app", "localservice"), join(work, "localservice"));
  writeFileSync(join(work, "LocalServiceConfig.json"), JSON.stringify({
    ServicePortStart: SERVICE_PORT, ServicePortEnd: SERVICE_PORT + 5, SingleInstance: `page-bench-${process.pid}`,
    AllowedOrigins: [`http://127.0.0.1:${PAGE_PORT}`],
  }));
}
const service = start(join(work, "localservice"), [], { cwd: work, env: { ...process.env, QT_QPA_PLATFORM: "offscreen" } });
start(process.execPath, [join(here, "..", "tools", "web", "serve.mjs"), "--port", String(PAGE_PORT)]);
start("chromium", ["--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                   "--disable-component-update", "--disable-sync", "--autoplay-policy=no-user-gesture-required",
                   "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
                   `--remote-debugging-port=${DEBUG_PORT}`, `--user-data-dir=${join(work, "profile")}`, "--window-size=1280,800",
                   "about:blank"]);
await Promise.all([SERVICE_PORT, PAGE_PORT, DEBUG_PORT].map(waitPort));
const latencyScript = readFileSync(join(here, "page_latency.js"), "utf8");

// The service's memory before its first stream: what streams add is over it.
const idleRss = rssMiB(service.pid);

async function pageRun(count) {
  const tab = await Tab.open(`http://127.0.0.1:${PAGE_PORT}/index.html?portStart=${SERVICE_PORT}&portEnd=${SERVICE_PORT + 5}` +
                             `&cameras=${cameraUrl}&render=page&layout=${count}`);
  try {
    const ready = `(() => { const v = [...document.querySelectorAll('#wall video')]; ` +
                  `return v.length === ${count} && v.every((e) => e.readyState >= 2); })()`;
    const deadline = Date.now() + 60000;
    while (!(await tab.evaluate(ready))) {
      if (Date.now() > deadline)
        throw new Error(`${count} pictures did not start: ${await tab.evaluate("JSON.stringify(window.demo?.events)")}`);
      await sleep(200);
    }
    await sleep(WARM_MS);
    const before = ticks(service.pid);
    const delayed = tab.evaluate(`${latencyScript}(document.querySelector('#wall video'), 50)`);
    await sleep(MEASURE_MS);
    const cpu = (ticks(service.pid) - before) / (MEASURE_MS / 1000);
    const delay = await Promise.race([delayed, sleep(30000)]);
    return { cpu: cpu / count, rss: (rssMiB(service.pid) - idleRss) / count, p50: delay?.p50 ?? NaN, p95: delay?.p95 ?? NaN, total: cpu };
  } finally {
    await tab.close();
    await sleep(1000);  // the service closes the streams of the page that went
  }
}

function nativeRun(count) {
  const out = execFileSync(join(build, "bench", "bench_video"), ["--run", "library", String(count), cameraUrl],
                           { env: { ...process.env, QT_QPA_PLATFORM: "offscreen" }, timeout: 60000, stdio: ["ignore", "pipe", "ignore"] });
  const r = JSON.parse(out.toString().trim().split("\n").pop());
  return { cpu: r.cpu, rss: r.rss, p50: r.p50, p95: r.p95, total: r.cpu * count };
}

const fixed = (value, digits = 1) => (Number.isFinite(value) ? value.toFixed(digits) : "-");
const spread = (values, digits = 1) => `${fixed(median(values), digits)} (${fixed(Math.min(...values), digits)}-${fixed(Math.max(...values), digits)})`;
console.log(`live H.264 1280x720 25 fps from camera-sim, ${ROUNDS} rounds of ${MEASURE_MS / 1000} s, page and native in turn`);
console.log("page: the service's in-page streams, delay camera clock -> picture presented in headless Chromium");
console.log("native: the video library's play windows, delay camera clock -> paint");
const header = ["streams", "mode", "CPU %/stream", "RSS MiB/stream", "p50 ms", "p95 ms"];
console.log(header.map((h, i) => (i < 2 ? h.padEnd(8) : h.padStart(19))).join(""));
const summary = [];
for (const count of COUNTS) {
  const runs = { page: [], native: [] };
  for (let round = 0; round < ROUNDS; ++round) {
    for (const mode of round % 2 ? ["native", "page"] : ["page", "native"]) {
      try { runs[mode].push(mode === "page" ? await pageRun(count) : nativeRun(count)); } catch (e) { console.log(`${count} ${mode}: ${e.message}`); }
    }
  }
  const pick = (mode, key) => runs[mode].map((r) => r[key]).filter(Number.isFinite);
  for (const mode of ["page", "native"]) {
    if (!runs[mode].length) continue;
    console.log([String(count).padEnd(8), mode.padEnd(8), ...["cpu", "rss", "p50", "p95"].map((k) => ` ${spread(pick(mode, k))}`.padStart(19))].join(""));
  }
  if (runs.page.length && runs.native.length) {
    const ratio = median(pick("page", "cpu")) / median(pick("native", "cpu"));
    const gap = median(pick("page", "p50")) - median(pick("native", "p50"));
    summary.push({ count, ratio, gap, total: median(pick("page", "total")) });
    console.log(`${String(count).padEnd(8)}page/native CPU per stream ${fixed(ratio, 2)}x (aim <= 0.2x), ` +
                `delay p50 ${fixed(gap, 0)} ms over native (aim <= 100 ms)`);
  }
}
for (const { count, ratio, gap, total } of summary) {
  const missed = [];
  if (!(ratio <= 0.2)) missed.push(`CPU ${fixed(ratio, 2)}x is ${fixed(ratio - 0.2, 2)}x over 0.2x`);
  if (!(gap <= 100)) missed.push(`delay ${fixed(gap, 0)} ms is ${fixed(gap - 100, 0)} ms over 100 ms`);
  if (count === 16 && !(total < 15)) missed.push(`16 streams take ${fixed(total)} % of a core, ${fixed(total - 15)} over 15 %`);
  if (count === 16) console.log(`16 page streams: ${fixed(total)} % of one core (aim < 15 %)`);
  console.log(`${count} streams: ${missed.length ? `missed: ${missed.join("; ")}` : "targets met"}`);
}
process.exit(0);
