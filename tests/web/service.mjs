// Runs the service binary for the page client's tests: a copy in a
// temporary folder with its own configuration beside it, on Qt's offscreen
// platform, with its log collected. The test-hooks build reads hook lines
// ("emit <json>", ...) on standard input.
import { spawn } from "node:child_process";
import { copyFileSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

const binary = process.env.LOCALSERVICE_TESTHOOKS_BIN;

// The origin of the tests' page, which the service trusts through
// "AllowedOrigins" (as a deployment lists its portal) under its default
// policy, "ask", with nobody there to be asked.
export const pageOrigin = "http://page.localservice.test";

// Node here plays the page: its fetch and WebSocket name the page's origin,
// as a browser's do. (Node sends "Sec-Fetch-Mode" but no "Origin", and the
// service refuses browser requests that name no page.)
const fetchAsIs = globalThis.fetch;
globalThis.fetch = (url, init = {}) => {
  const headers = new Headers(init.headers);
  headers.set("origin", pageOrigin);
  return fetchAsIs(url, { ...init, headers });
};
if (typeof globalThis.WebSocket === "function") {
  globalThis.WebSocket = class PageWebSocket extends globalThis.WebSocket {
    constructor(url, protocols) {
      super(url, { protocols, headers: { origin: pageOrigin } });
    }
  };
}

export async function waitFor(condition, timeoutMs = 10000, what = "condition") {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

export async function startService(portStart, portEnd) {
  if (!binary) throw new Error("LOCALSERVICE_TESTHOOKS_BIN is not set (run through ctest)");
  const dir = mkdtempSync(join(tmpdir(), "localservice-web-"));
  copyFileSync(binary, join(dir, "localservice"));
  writeFileSync(join(dir, "LocalServiceConfig.json"), JSON.stringify({
    ServicePortStart: portStart, ServicePortEnd: portEnd, SingleInstance: `web-client-${process.pid}-${portStart}`,
    AllowedOrigins: [pageOrigin],
  }));
  const child = spawn(join(dir, "localservice"), [], { cwd: dir, env: { ...process.env, QT_QPA_PLATFORM: "offscreen", XDG_CONFIG_HOME: join(dir, "config") } });
  let log = "";
  child.stdout.on("data", (data) => { log += data; });
  child.stderr.on("data", (data) => { log += data; });
  const exited = new Promise((resolve) => child.on("exit", (code, signal) => resolve({ code, signal })));
  let port;
  try {
    port = Number((await waitFor(() => log.match(/listening on port (\d+)/), 30000, "the service to listen"))[1]);
    await waitFor(() => log.includes("test hook: ready"), 30000, "the test hooks");
  } catch (e) {
    child.kill("SIGKILL");
    throw new Error(`${e.message}\n${log}`);
  }
  return {
    port,
    log: () => log,
    hook: (line) => child.stdin.write(`${line}\n`),
    // Ends it with SIGTERM; resolves with its exit code (0: also no
    // sanitizer report).
    async stop() {
      child.kill("SIGTERM");
      const { code } = await exited;
      rmSync(dir, { recursive: true, force: true });
      return code;
    },
  };
}
