// In-page video for localservice.js: a window the page draws itself. The
// service creates the window with "render": "page" and sends, for every play
// window that plays, the camera's coded H.264 as fragmented MP4 over a
// WebSocket of its own (the "stream" path of the play's answer); this file
// feeds it to a <video> element through Media Source Extensions, so the
// browser decodes it. It works in pages that are not secure contexts
// (plain http://), where WebCodecs is missing.
//
// usePageVideo(handle) turns a WindowHandle (attach(element, { render:
// "page" }), or "auto" where the service sees no browser window) into one
// drawn in the element: the grid of play windows is a CSS grid of <video>
// elements, a click selects a play window (the service reports the
// selection as "window.onGetSelectWndInfo", as for a native window), a
// double click on a playing picture and fullScreen() use the Fullscreen API
// on the element ("fullscreenchange" events as in native mode), and the
// ratio mode becomes object-fit. The service's events reach the handle as
// in native mode; "stopped" and "error" of a play window end its picture.

const CODEC = 'video/mp4; codecs="avc1.42E01E"';
// Seconds of picture the page may fall behind the newest one before it
// plays faster to catch up, and before it jumps ahead; the seconds of old
// picture kept buffered.
const CATCH_UP_LAG_S = 0.08;
const MAX_LAG_S = 0.5;
const KEEP_S = 4;
const FIT = { fit: "contain", fill: "cover", stretch: "fill", 0: "contain", 1: "cover", 2: "fill" };

// Whether this browser can show in-page video at all.
export function pageVideoSupported() {
  return typeof MediaSource !== "undefined" && MediaSource.isTypeSupported(CODEC);
}

// One play window: a <video> fed from one media WebSocket.
class PageCell {
  constructor(grid, index) {
    this.index = index;
    this.video = document.createElement("video");
    // Muted and inline: the browser lets it play without a gesture.
    this.video.muted = true;
    this.video.autoplay = true;
    this.video.playsInline = true;
    this.video.dataset.wndIndex = String(index);
    Object.assign(this.video.style, { width: "100%", height: "100%", minWidth: "0", minHeight: "0", background: "#000",
                                      objectFit: "contain", boxSizing: "border-box", border: "1px solid transparent" });
    grid.appendChild(this.video);
    this.socket = null;
    this.source = null;
    this.buffer = null;
    this.pending = [];
  }

  get playing() { return !!this.socket; }

  play(url) {
    this.stop();
    const socket = new WebSocket(url);
    socket.binaryType = "arraybuffer";
    this.socket = socket;
    this.openSource();
    socket.onmessage = (e) => {
      if (this.socket !== socket) return;
      const part = new Uint8Array(e.data);
      // After the camera came back the service starts the stream over
      // ("ftyp", "moov"): a new buffer for it.
      if (this.fed && part.length >= 8 && String.fromCharCode(...part.subarray(4, 8)) === "ftyp") this.openSource();
      this.fed = true;
      this.pending.push(part);
      this.feed();
    };
    socket.onclose = () => { if (this.socket === socket) this.stop(); };
  }

  openSource() {
    if (this.source) URL.revokeObjectURL(this.video.src);
    const source = new MediaSource();
    this.source = source;
    this.buffer = null;
    this.pending = [];
    this.fed = false;
    this.video.src = URL.createObjectURL(source);
    source.addEventListener("sourceopen", () => {
      if (this.source !== source) return;
      this.buffer = source.addSourceBuffer(CODEC);
      this.buffer.mode = "segments";
      this.buffer.addEventListener("updateend", () => this.feed());
      this.feed();
    }, { once: true });
  }

  // Appends what came in, keeps the picture near the newest one, and drops
  // old picture.
  feed() {
    const buffer = this.buffer, video = this.video;
    if (!buffer || buffer.updating) return;
    const ranges = buffer.buffered;
    if (ranges.length) {
      const end = ranges.end(ranges.length - 1), start = ranges.start(0);
      const lag = end - video.currentTime;
      if (video.currentTime < start || lag > MAX_LAG_S) video.currentTime = Math.max(start, end - 0.04);
      video.playbackRate = lag > CATCH_UP_LAG_S ? 1.25 : 1;
      if (video.paused) video.play().catch(() => {});
      if (video.currentTime - start > 2 * KEEP_S) { buffer.remove(start, video.currentTime - KEEP_S); return; }
    }
    if (!this.pending.length) return;
    const size = this.pending.reduce((sum, part) => sum + part.length, 0);
    const joined = new Uint8Array(size);
    let at = 0;
    for (const part of this.pending) { joined.set(part, at); at += part.length; }
    this.pending = [];
    try { buffer.appendBuffer(joined); } catch { this.stop(); }
  }

  stop() {
    const socket = this.socket;
    this.socket = null;
    this.buffer = null;
    this.pending = [];
    if (socket) socket.close();
    if (this.source) {
      URL.revokeObjectURL(this.video.src);
      this.source = null;
      this.video.removeAttribute("src");
      this.video.load();
    }
  }

  remove() {
    this.stop();
    this.video.remove();
  }
}

// The grid of play windows inside the element.
class PageGrid {
  constructor(handle) {
    this.handle = handle;
    this.element = handle.element;
    this.root = document.createElement("div");
    this.root.className = "localservice-page-video";
    Object.assign(this.root.style, { display: "grid", width: "100%", height: "100%", gap: "0", background: "#000" });
    this.element.replaceChildren(this.root);
    this.cells = [];
    this.selected = 0;
    this.root.addEventListener("click", (e) => this.onClick(e));
    this.root.addEventListener("dblclick", (e) => this.onDoubleClick(e));
    this.onFullscreen = () => {
      const full = document.fullscreenElement === this.element;
      if (full !== handle.full) handle.fullScreenChanged(full, { by: full ? handle.fullBy ?? "command" : "service" });
    };
    document.addEventListener("fullscreenchange", this.onFullscreen);
    this.layout(1);
  }

  layout(count) {
    const columns = Math.ceil(Math.sqrt(count));
    this.root.style.gridTemplateColumns = `repeat(${columns}, minmax(0, 1fr))`;
    this.root.style.gridTemplateRows = `repeat(${Math.ceil(count / columns)}, minmax(0, 1fr))`;
    while (this.cells.length > count) this.cells.pop().remove();
    while (this.cells.length < count) this.cells.push(new PageCell(this.root, this.cells.length));
    if (this.selected >= count) this.selected = 0;
    this.markSelected();
  }

  markSelected() {
    for (const cell of this.cells) cell.video.style.borderColor = cell.index === this.selected && this.cells.length > 1 ? "#e0b000" : "transparent";
  }

  cellOf(e) {
    const video = e.target.closest ? e.target.closest("video") : null;
    return video ? this.cells[Number(video.dataset.wndIndex)] : undefined;
  }

  onClick(e) {
    const cell = this.cellOf(e);
    if (!cell) return;
    this.selected = cell.index;
    this.markSelected();
    this.handle.connection.request("window.setWindowSelected", { wndIndex: cell.index }).catch(() => {});
  }

  onDoubleClick(e) {
    const cell = this.cellOf(e);
    if (!cell || !cell.playing || !this.handle.fullScreenCapability) return;
    this.setFull(document.fullscreenElement !== this.element, "doubleClick");
  }

  setFull(full, by) {
    this.handle.fullBy = by;
    // The browser allows full screen only in answer to a user's gesture.
    if (full && document.fullscreenElement !== this.element) return this.element.requestFullscreen().catch(() => {});
    if (!full && document.fullscreenElement === this.element) return document.exitFullscreen().catch(() => {});
    return undefined;
  }

  streamUrl(path) {
    const connection = this.handle.connection;
    return `ws://${connection.options.host}:${connection.port}${path}`;
  }

  // The answer of a video command the page carries out its part of.
  async after(name, params, answer) {
    if (name === "fullScreen") return this.setFull(params.full !== false, "command");
    const index = answer && answer.wndIndex !== undefined ? answer.wndIndex : params.wndIndex ?? this.selected;
    if (name === "startPlay" && answer && answer.stream) this.cells[index]?.play(this.streamUrl(answer.stream));
    else if (name === "stop") this.cells[index]?.stop();
    else if (name === "stopAll") for (const cell of this.cells) cell.stop();
    else if (name === "arrangeWindow" && answer) this.layout(answer.windowCount);
    else if (name === "setWndRatioMode") {
      const cells = params.wndIndex === undefined ? this.cells : [this.cells[params.wndIndex]].filter(Boolean);
      for (const cell of cells) cell.video.style.objectFit = FIT[params.mode] ?? "contain";
    }
  }

  onServiceEvent(message) {
    if (message.cmd === "window.onPluginEventHandler" && (message.event === "stopped" || message.event === "error")) {
      this.cells[message.wndIndex]?.stop();
    } else if (message.cmd === "window.onGetSelectWndInfo" && this.cells[message.wndIndex]) {
      this.selected = message.wndIndex;
      this.markSelected();
    }
  }

  destroy() {
    document.removeEventListener("fullscreenchange", this.onFullscreen);
    for (const cell of this.cells) cell.remove();
    this.root.remove();
  }
}

// Makes the handle's window one drawn by the page (also again after a
// service restart). Resolves when the service registered it.
export async function usePageVideo(handle) {
  if (!pageVideoSupported()) throw new Error("in-page video needs Media Source Extensions with H.264");
  await handle.connection.request("window.createWnd", { render: "page" });
  handle.render = "page";
  if (handle.pageGrid) return;
  const grid = new PageGrid(handle);
  handle.pageGrid = grid;
  // Nothing native to keep in place.
  handle.sync = async () => {};
  handle.watch = () => {};
  // Every video answer of the window's own connection, the plays made again
  // after a service restart included.
  const request = handle.connection.request.bind(handle.connection);
  handle.connection.request = async (cmd, params = {}, options) => {
    const answer = await request(cmd, params, options);
    if (cmd.startsWith("video.")) await grid.after(cmd.slice("video.".length), params, answer);
    return answer;
  };
  handle.fullScreen = (full = true) => handle.video.command("fullScreen", { full });
  for (const name of ["window.onPluginEventHandler", "window.onGetSelectWndInfo"]) {
    handle.connection.addEventListener(name, (e) => grid.onServiceEvent(e.detail));
  }
  const destroy = handle.destroy.bind(handle), destroyNow = handle.destroyNow.bind(handle);
  handle.destroy = async () => { grid.destroy(); await destroy(); };
  handle.destroyNow = () => { grid.destroy(); destroyNow(); };
}
