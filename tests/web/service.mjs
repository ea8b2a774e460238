// Runs the service binary for the page client's tests: a copy in a
// temporary folder with its own configuration beside it, on Qt's offscreen
// platform, with its log collected. The test-hooks build reads hook lines
// ("emit <json>", ...) on standard input.
import { spawn } from "node:child_process";
import { copyFileSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

const binary = process.env.LOCALSERVICE_TESTHOOKS_BIN;

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
  }));
  const child = spawn(join(dir, "localservice"), [], { cwd: dir, env: { ...process.env, QT_QPA_PLATFORM: "offscreen" } });
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
