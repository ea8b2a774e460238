// The video wall demonstration: plays cameras in a 1, 4 or 9 picture wall
// over #wall, with a drop-down menu that opens over the video, snapshots,
// recording, full screen, a two-way talk and an event log. Everything it
// does with the service goes through localservice.js.
//
// Query parameters (all optional): portStart, portEnd, cameras (comma-
// separated URLs), device (host:port of the talk device), layout (1, 4, 9),
// render (auto, native, page: how the video is shown), autostart=0 (wait
// for the Start button).
import * as LocalService from "./localservice.js";

const $ = (id) => document.getElementById(id);
const params = new URLSearchParams(location.search);
$("portStart").value = params.get("portStart") ?? 33686;
$("portEnd").value = params.get("portEnd") ?? 33696;
$("cameras").value = params.get("cameras") ?? "rtsp://127.0.0.1:8554/live";
$("device").value = params.get("device") ?? "127.0.0.1:40100";
$("render").value = params.get("render") ?? "auto";

// For the browser's console (and the end-to-end test).
const demo = { service: null, wall: null, events: [], layout: Number(params.get("layout") ?? 1), talk: null, recording: false };
window.demo = demo;

function log(text, failed = false) {
  demo.events.push(text);
  const line = document.createElement("li");
  line.textContent = `${new Date().toLocaleTimeString()}  ${text}`;
  if (failed) line.className = "fail";
  $("log").prepend(line);
  while ($("log").children.length > 200) $("log").lastChild.remove();
}

// Runs a button's action, logging its failure.
function action(button, run) {
  button.addEventListener("click", async () => {
    try { await run(); } catch (e) { log(`${button.textContent.trim()}: ${e.message}`, true); }
  });
}

async function start() {
  $("start").disabled = true;
  $("status").textContent = "Looking for the service…";
  // A login of our own: the service answers the handshake only when it can
  // recompute the login id. Pages that are not secure contexts (plain
  // http:// from a device) have no WebCrypto: they connect without it.
  const login = globalThis.crypto?.subtle ? await LocalService.makeLogin("demo@example.com") : undefined;
  try {
    demo.service = await LocalService.connect({ portStart: Number($("portStart").value), portEnd: Number($("portEnd").value), login });
  } catch (e) {
    $("status").textContent = "Not connected: is the service running on these ports?";
    $("start").disabled = false;
    throw e;
  }
  const service = demo.service;
  const showStatus = () => {
    $("status").textContent = `Connected over ${service.kind} to port ${service.port}.`;
  };
  showStatus();
  service.addEventListener("disconnect", () => { $("status").textContent = "The service went away; looking for it…"; });
  service.addEventListener("reconnect", showStatus);
  service.addEventListener("transportchange", (e) => log(`now over ${e.detail.kind} (was ${e.detail.previousKind})`));

  $("wall").classList.remove("start");
  $("start").remove();
  $("render").disabled = true;
  const wall = await service.attach($("wall"), { render: $("render").value });
  demo.wall = wall;
  log(`video ${wall.render === "page" ? "in the page" : "in a native window"}`);
  for (const name of ["window.onGetSelectWndInfo", "window.onPluginEventHandler", "video.onDrawEvent", "video.onDrawCallback"]) {
    wall.addEventListener(name, (e) => log(`${name} ${JSON.stringify(e.detail, ["wndIndex", "event", "type", "reason", "errorMessage"])}`));
  }
  wall.addEventListener("window.onMouseEvent", (e) => {
    const mouse = e.detail.mouseInfo || {};
    if (mouse.type !== "move") log(`mouse ${mouse.type} in picture ${mouse.wndIndex}`);
  });
  wall.addEventListener("fullscreenchange", (e) => log(`full screen ${e.detail.full ? "on" : "off"} (${e.detail.by})`));
  wall.addEventListener("restored", () => log("the wall is back after the service restarted"));
  wall.addEventListener("error", (e) => log(`window: ${e.detail.message}`, true));

  await wall.setFullScreenCapability(true);
  await setLayout(demo.layout);
  for (const id of ["snapshot", "record", "talk", "fullscreen"]) $(id).disabled = false;
}

// Every picture of the layout plays a camera of the list, in turn.
async function setLayout(count) {
  const wall = demo.wall;
  const cameras = $("cameras").value.split(",").map((url) => url.trim()).filter(Boolean);
  await wall.video.stopAll();
  await wall.video.layout(count);
  await wall.video.ratio("fill");
  demo.layout = count;
  for (let wndIndex = 0; wndIndex < count && cameras.length; ++wndIndex) {
    await wall.video.play(cameras[wndIndex % cameras.length], { wndIndex });
  }
  log(`${count} picture${count > 1 ? "s" : ""} playing`);
}

// The drop-down: opens over the video; any click elsewhere closes it.
function showMenu(open) {
  $("layoutMenu").hidden = !open;
  $("layoutButton").setAttribute("aria-expanded", String(open));
}
$("layoutButton").addEventListener("click", (e) => {
  e.stopPropagation();
  showMenu($("layoutMenu").hidden);
});
document.addEventListener("click", () => showMenu(false));
for (const item of document.querySelectorAll("[data-layout]")) {
  action(item, async () => {
    showMenu(false);
    if (demo.wall) await setLayout(Number(item.dataset.layout));
  });
}

action($("start"), start);

action($("snapshot"), async () => {
  const shot = await demo.wall.video.snapshot();
  log(`snapshot of picture ${shot.wndIndex}: ${shot.path} (${shot.width}×${shot.height})`);
});

action($("record"), async () => {
  if (!demo.recording) {
    const started = await demo.wall.video.startRecord({ format: "mkv" });
    demo.recording = true;
    $("record").textContent = "Stop recording";
    log(`recording picture ${started.wndIndex} to ${started.path}`);
  } else {
    const done = await demo.wall.video.stopRecord();
    demo.recording = false;
    $("record").textContent = "Record";
    log(`recorded ${(done.duration / 1000).toFixed(1)} s to ${done.path}`);
  }
});

action($("fullscreen"), () => demo.wall.fullScreen(true));

// The access and secret keys are protected in the page before they leave it.
action($("talk"), async () => {
  const audio = demo.service.audio;
  if (!demo.talk) {
    const talkId = `talk-${Date.now()}`;
    const answer = await audio.startTalk({
      address: $("device").value, accessKey: $("accessKey").value, secretKey: $("secretKey").value,
      deviceSerial: $("serial").value, alarmTime: new Date().toISOString(), talkId,
    });
    demo.talk = { talkId, handle: answer.handle };
    $("talk").textContent = "Stop talking";
    log(`talking (handle ${answer.handle}, ${answer.audioTimeLeft} s left)`);
  } else {
    await audio.stopTalk(demo.talk);
    demo.talk = null;
    $("talk").textContent = "Talk";
    log("talk ended");
  }
});

if (params.get("autostart") !== "0") $("start").click();
