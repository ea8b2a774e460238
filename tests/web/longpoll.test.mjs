// Long polls that the service holds for longer than the page client's
// usual request time (12 s here) are not a lost service, over HTTP and over
// the image channel. Ports 28120-28129.
import assert from "node:assert/strict";
import { test } from "node:test";

import * as LocalService from "../../tools/web/localservice.js";
import { startService, waitFor } from "./service.mjs";

test("a poll held for 12 s keeps the connection", async () => {
  const service = await startService(28120, 28130);
  try {
    service.hook("poll 12000");
    await waitFor(() => service.log().includes("test hook: poll 12000"));
    globalThis.WebSocket = undefined;
    const connections = await Promise.all(["http", "image"].map((kind) => LocalService.connect({
      portStart: service.port, portEnd: service.port + 1, transports: [kind], reconnect: false })));
    const lost = [];
    for (const connection of connections) connection.addEventListener("close", () => lost.push(connection.kind));
    // Past the first poll's end: it ends with "timeout" and the next one runs.
    await new Promise((resolve) => setTimeout(resolve, 13000));
    assert.deepEqual(lost, []);
    const events = connections.map((connection) => new Promise((resolve) => connection.addEventListener("test.event", resolve)));
    for (const connection of connections) service.hook(`emit {"cmd":"test.event","uuid":"${connection.uuid}"}`);
    await Promise.all(events);
    for (const connection of connections) connection.close();
  } finally {
    assert.equal(await service.stop(), 0, service.log());
  }
});
