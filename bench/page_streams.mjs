// The service's side of in-page video at N streams, without a browser: one
// page window plays the camera in N play windows and takes every stream's
// fragmented MP4 on its media WebSocket, as the page client does. Prints
// the service's CPU (% of one core) and RSS while they run.
//
//   node --experimental-websocket bench/page_streams.mjs <service port> <service pid> <rtsp url> <N> [seconds]
import { readFileSync } from "node:fs";

const [port, pid, url, count, seconds = "8"] = process.argv.slice(2);
const socket = new WebSocket(`ws://127.0.0.1:${port}/`);
const next = () => new Promise((resolve) => socket.addEventListener("message", (e) => resolve(JSON.parse(e.data)), { once: true }));
await new Promise((resolve) => socket.addEventListener("open", resolve, { once: true }));
socket.send(JSON.stringify({ cmd: "system.webconnect" }));
const { uuid } = await next();
let sequence = 0;
const request = async (cmd, params = {}) => {
  const id = String(++sequence);
  socket.send(JSON.stringify({ cmd, uuid, sequence: id, ...params }));
  for (;;) { const answer = await next(); if (answer.sequence === id && !answer.cmd) return answer; }
};
await request("window.createWnd", { render: "page" });
await request("video.arrangeWindow", { layout: Number(count) });
let bytes = 0;
const media = [];
for (let wndIndex = 0; wndIndex < Number(count); ++wndIndex) {
  const play = await request("video.startPlay", { url, wndIndex });
  const stream = new WebSocket(`ws://127.0.0.1:${port}${play.stream}`);
  stream.binaryType = "arraybuffer";
  stream.onmessage = (e) => { bytes += e.data.byteLength; };
  media.push(stream);
}
const ticks = () => readFileSync(`/proc/${pid}/stat`, "utf8").split(") ")[1].split(" ").slice(11, 13).reduce((a, b) => a + Number(b), 0);
await new Promise((resolve) => setTimeout(resolve, 3000));
const before = ticks(), bytesBefore = bytes;
await new Promise((resolve) => setTimeout(resolve, Number(seconds) * 1000));
const cpu = (ticks() - before) / Number(seconds);
const rss = Number(readFileSync(`/proc/${pid}/status`, "utf8").match(/VmRSS:\s+(\d+)/)[1]) / 1024;
console.log(JSON.stringify({ streams: Number(count), cpuPercent: cpu, rssMiB: Math.round(rss), mbitPerS: Math.round(((bytes - bytesBefore) * 8) / Number(seconds) / 1e5) / 10 }));
for (const stream of media) stream.close();
socket.close();
