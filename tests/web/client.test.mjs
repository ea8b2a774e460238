// The page client (tools/web/localservice.js) against the real service
// (test-hooks build): which transport it falls back to and how it gets back
// to the WebSocket, how answers find their requests whatever each module
// does with "sequence", the same error kinds on every transport, and
// finding a restarted service again. Ports 28100-28119.
import assert from "node:assert/strict";
import { createServer } from "node:net";
import { after, afterEach, before, test } from "node:test";

import * as LocalService from "../../tools/web/localservice.js";
import { startService, waitFor } from "./service.mjs";

const realWebSocket = globalThis.WebSocket;
const realFetch = globalThis.fetch;

// How a page lacks WebSocket, and in addition cannot POST to the service;
// every test ends with the real ones back.
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
afterEach(restoreEnvironment);

function use(kind) {
  restoreEnvironment();
  ENVIRONMENTS[kind]();
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
  silent.close();
  assert.equal(await service.stop(), 0, service.log());
});

for (const kind of Object.keys(ENVIRONMENTS)) {
  test(`${kind}: found past a silent port, answers and events`, async () => {
    use(kind);
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
  });

  // Sent all at once: the video module answers a command for a missing
  // window with the empty text and others in indented JSON; the audio module
  // answers a start it cannot read with an empty "sequence"; the service
  // answers a command no module knows with an error.
  test(`${kind}: every answer settles its own request`, async () => {
    use(kind);
    const connection = await LocalService.connect(options);
    // A request the service drops (sent past the client's own check).
    const dropped = { cmd: "video.noSuchCommand", uuid: connection.uuid, sequence: String(connection.nextSequence++) };
    const [unanswered, noWindow, audio, video, empty, version] = await Promise.allSettled([
      connection.transport.exchange(dropped, 5000),
      connection.request("video.stop", { wndIndex: 0 }),
      connection.request("audio.startTalk", { deviceSerial: "DS-1" }),
      connection.request("video.getEngineSupport"),
      connection.request("video.setPlayMode"),
      connection.request("window.getLocalServiceVersion"),
    ]);
    assert.equal(unanswered.reason?.kind, "no-answer");
    assert.equal(noWindow.reason?.kind, "no-window");
    assert.equal(audio.reason?.kind, "failed");
    assert.deepEqual([audio.reason.code, audio.reason.module], [1, 9]);
    assert.equal(video.value?.errorCode, 0);
    assert.equal(video.value.uuid, connection.uuid);
    assert.equal(empty.value, null);
    assert.equal(version.value?.localServiceVersion, process.env.LOCALSERVICE_VERSION);
    connection.close();
  });
}

// The same cause, the same kind on every transport: a name in none of the
// service's command tables (alone, so that no later answer could tell it
// was dropped: over WebSocket only the client's own check gives no-answer
// before timeoutMs), a call on a connection the page closed.
test("error kinds are the same on all three transports", async () => {
  const kinds = {};
  const outcome = (promise) => promise.then(() => "resolved", (e) => e.kind);
  for (const kind of Object.keys(ENVIRONMENTS)) {
    use(kind);
    const connection = await LocalService.connect(options);
    const unknown = (cmd) => outcome(connection.request(cmd, {}, { timeoutMs: 4000 }).catch((e) => {
      throw e.message === `unknown command ${cmd}, no request sent` ? e : new Error(e.message);
    }));
    kinds[kind] = {
      unknownCommand: await unknown("video.noSuchCommand"),
      windowCase: await unknown("window.Showwnd"),
      unknownModule: await unknown("nosuch.command"),
      system: await unknown("system.foo"),
    };
    connection.close();
    kinds[kind].closed = await outcome(connection.request("window.getLocalServiceVersion"));
  }
  const expected = { unknownCommand: "no-answer", windowCase: "no-answer", unknownModule: "no-answer", system: "no-answer", closed: "destroyed" };
  assert.deepEqual(kinds, { websocket: expected, http: expected, image: expected });
});

// Refused by name before any network work (the range holds no service).
test("bad options are named", async () => {
  const login = await LocalService.makeLogin("a@example.com");
  const rows = [
    [{ transports: ["bogus"] }, "transports"],
    [{ transports: "websocket" }, "transports"],
    [{ login: { ...login, sessionID: "x" } }, "login.sessionID"],
    [{ login: { ...login, challenge: "a&b" } }, "login.challenge"],
    [{ portStart: 28105, portEnd: 28105 }, "portEnd"],
    [{ detectTimeOutMs: 100 }, "detectTimeOutMs"],
    [{ timeoutMs: -1 }, "timeoutMs"],
  ];
  for (const [given, option] of rows) {
    await assert.rejects(LocalService.connect({ portStart: 28119, portEnd: 28120, ...given }), { kind: "bad-option", option });
  }
  await assert.rejects(LocalService.connect({ portStart: 28119, portEnd: 28120, detectTimeoutMs: 300 }),
                       (e) => e.kind === "not-found" && /start it/.test(e.message));
});

// A WebSocket that fails at first: the connection falls back to HTTP, tries
// the WebSocket again in the background and moves over to it.
test("a fall-back moves to the WebSocket when it opens", async () => {
  let refused = 0;
  globalThis.WebSocket = class extends realWebSocket {
    constructor(url) {
      super(refused++ < 2 ? url.replace(/:\d+\//, ":28119/") : url);  // nothing listens on 28119
    }
  };
  const connection = await LocalService.connect({ ...options, webSocketRetryMs: 100, reconnect: true });
  assert.equal(connection.kind, "http");
  const first = connection.uuid;
  const reconnected = nextEvent(connection, "reconnect");
  assert.deepEqual(await nextEvent(connection, "transportchange"),
                   { kind: "websocket", previousKind: "http", uuid: connection.uuid });
  assert.deepEqual(await reconnected, { uuid: connection.uuid, previousUuid: first, kind: "websocket" });
  assert.equal(refused, 3);
  assert.equal((await connection.request("window.getLocalServiceVersion")).uuid, connection.uuid);
  connection.close();
});

// The service goes away and comes back: the connection finds it again with
// a new uuid, and refuses requests meanwhile.
for (const kind of ["websocket", "http"]) {
  test(`${kind}: a restarted service is found again`, async () => {
    use(kind);
    let restarted = await startService(28110 + (kind === "http" ? 5 : 0), 28115 + (kind === "http" ? 5 : 0));
    const range = { portStart: restarted.port, portEnd: restarted.port + 5 };
    let connection;
    try {
      connection = await LocalService.connect({ ...range, reconnectFirstDelayMs: 100, reconnectMaxDelayMs: 400 });
      assert.equal(connection.kind, kind);
      const first = connection.uuid;
      const lost = nextEvent(connection, "disconnect", 30000);
      assert.equal(await restarted.stop(), 0);
      assert.equal((await lost).uuid, first);
      await assert.rejects(connection.request("window.getLocalServiceVersion"), { kind: "offline" });

      const found = nextEvent(connection, "reconnect", 30000);
      restarted = await startService(range.portStart, range.portEnd);
      const { uuid, previousUuid, kind: foundKind } = await found;
      assert.equal(foundKind, kind);
      assert.equal(previousUuid, first);
      assert.notEqual(uuid, first);
      assert.equal(connection.uuid, uuid);
      assert.equal((await connection.request("window.getLocalServiceVersion")).uuid, uuid);
      connection.close();
      await waitFor(() => connection.state === "closed");
    } finally {
      connection?.close();  // no reconnection left running after a failure
      assert.equal(await restarted.stop(), 0, restarted.log());
    }
  });
}
