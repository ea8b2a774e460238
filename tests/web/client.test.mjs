// The page client (tools/web/localservice.js) against the real service
// (test-hooks build): which transport it falls back to, how answers find
// their requests whatever each module does with "sequence", and finding a
// restarted service again. Ports 28100-28119.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { createServer } from "node:net";
import { after, before, test } from "node:test";

import * as LocalService from "../../tools/web/localservice.js";
import { startService, waitFor } from "./service.mjs";

const realWebSocket = globalThis.WebSocket;
const realFetch = globalThis.fetch;

// How a page lacks WebSocket, and in addition cannot POST to the service.
const ENVIRONMENTS = {
  websocket: () => {},
  http: () => { globalThis.WebSocket = undefined; },
  image: () => {
    globalThis.WebSocket = undefined;
    globalThis.fetch = (url, init = {}) => (init.method === "POST" ? Promise.reject(new TypeError("blocked")) : realFetch(url, init));
  },
};

function restoreEnvironment() {
  globalThis.WebSocket = realWebSocket;
  globalThis.fetch = realFetch;
}

function nextEvent(target, name, timeoutMs = 10000) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no ${name} event`)), timeoutMs);
    target.addEventListener(name, (e) => { clearTimeout(timer); resolve(e.detail); }, { once: true });
  });
}

let service;
let silent;  // a listener that never answers, on the port before the service's
let options;

before(async () => {
  assert.equal(typeof realWebSocket, "function", "run with --experimental-websocket");
  service = await startService(28101, 28110);
  silent = createServer(() => {}).listen(28100, "127.0.0.1");
  options = { portStart: 28100, portEnd: 28110, detectTimeoutMs: 500, reconnect: false,
              login: await LocalService.makeLogin("page+1@example.com", "q+8/Zw==", 100) };
});

after(async () => {
  restoreEnvironment();
  silent.close();
  assert.equal(await service.stop(), 0, service.log());
});

for (const [kind, setUp] of Object.entries(ENVIRONMENTS)) {
  test(`${kind}: found past a silent port, answers and events`, async () => {
    setUp();
    try {
      const connection = await LocalService.connect(options);
      assert.equal(connection.kind, kind);
      assert.equal(connection.port, service.port);
      const answer = await connection.request("window.getLocalServiceVersion");
      assert.equal(answer.localServiceVersion, process.env.LOCALSERVICE_VERSION);
      assert.equal(answer.uuid, connection.uuid);

      const event = nextEvent(connection, "test.event");
      service.hook(`emit {"cmd":"test.event","uuid":"${connection.uuid}","n":7}`);
      assert.equal((await event).n, 7);
      connection.close();
    } finally {
      restoreEnvironment();
    }
  });

  // Sent all at once: the video module answers a command for a missing
  // window with the empty text and others in indented JSON; the audio module
  // answers a start it cannot read with an empty "sequence"; a command no
  // module knows gets no answer at all.
  test(`${kind}: every answer settles its own request`, async () => {
    setUp();
    try {
      const connection = await LocalService.connect(options);
      const settled = await Promise.allSettled([
        connection.request("video.noSuchCommand", {}, { timeoutMs: 5000 }),
        connection.request("video.stop", { wndIndex: 0 }),
        connection.request("audio.startTalk", { deviceSerial: "DS-1" }),
        connection.request("video.getEngineSupport"),
        connection.request("video.setPlayMode"),
        connection.request("window.getLocalServiceVersion"),
      ]);
      const [dropped, noWindow, audio, video, empty, version] = settled;
      assert.equal(dropped.reason?.kind, "no-answer");
      assert.equal(noWindow.reason?.kind, "no-window");
      assert.equal(audio.reason?.kind, "failed");
      assert.deepEqual([audio.reason.code, audio.reason.module], [1, 9]);
      assert.equal(video.value?.errorCode, 0);
      assert.equal(video.value.uuid, connection.uuid);
      assert.equal(empty.value, null);
      assert.equal(version.value?.localServiceVersion, process.env.LOCALSERVICE_VERSION);
      connection.close();
    } finally {
      restoreEnvironment();
    }
  });
}

// Which empty answer belongs to which request depends on the service's
// table of window-bound video commands.
test("the window-bound video commands are the service's", () => {
  const table = readFileSync(new URL("../../video/VideoCommand.cpp", import.meta.url), "utf8");
  const bound = [...table.matchAll(/^\s+\{"(\w+)".*kWindowBound/gm)].map((match) => match[1]);
  assert.deepEqual([...LocalService.WINDOW_VIDEO_COMMANDS].sort(), bound.sort());
});

// The service goes away and comes back: the connection finds it again with
// a new uuid, and refuses requests meanwhile.
for (const kind of ["websocket", "http"]) {
  test(`${kind}: a restarted service is found again`, async () => {
    ENVIRONMENTS[kind]();
    let restarted = await startService(28110 + (kind === "http" ? 5 : 0), 28115 + (kind === "http" ? 5 : 0));
    const range = { portStart: restarted.port, portEnd: restarted.port + 5 };
    try {
      const connection = await LocalService.connect({ ...range, reconnectFirstDelayMs: 100, reconnectMaxDelayMs: 400 });
      assert.equal(connection.kind, kind);
      const first = connection.uuid;
      const lost = nextEvent(connection, "disconnect", 30000);
      assert.equal(await restarted.stop(), 0);
      assert.equal((await lost).uuid, first);
      await assert.rejects(connection.request("window.getLocalServiceVersion"), { kind: "offline" });

      const found = nextEvent(connection, "reconnect", 30000);
      restarted = await startService(range.portStart, range.portEnd);
      const { uuid, previousUuid } = await found;
      assert.equal(previousUuid, first);
      assert.notEqual(uuid, first);
      assert.equal(connection.uuid, uuid);
      assert.equal((await connection.request("window.getLocalServiceVersion")).uuid, uuid);
      connection.close();
      await waitFor(() => connection.state === "closed");
    } finally {
      restoreEnvironment();
      assert.equal(await restarted.stop(), 0, restarted.log());
    }
  });
}
