// LocalService page client: one module for pages that talk to the service.
//
//   import * as LocalService from "./localservice.js";
//   const service = await LocalService.connect();          // WebSocket, else HTTP, else images
//   const wall = await service.attach(document.getElementById("wall"));
//   await wall.video.layout(4);
//   await wall.video.play("rtsp://127.0.0.1:8554/live", { wndIndex: 0 });
//   wall.addEventListener("fullscreenchange", (e) => console.log(e.detail.full));
//
// localservice.global.js is the same code as a plain script: it defines the
// global LocalService with the same members (made from this file by
// make-global-script.mjs).
//
// What it does for a page:
// - connect() finds the service on its port range (one HTTP or image-channel
//   probe per port) and speaks to it over a WebSocket, else over HTTP with
//   long polling, else over the image channel (requests cut into GET
//   queries, answers read out of BMP pixels); the API and the errors are the
//   same on all three. A connection that fell back tries the WebSocket
//   again in the background and switches when it opens. Requests return
//   promises; events arrive as EventTarget events named by their "cmd".
// - A lost service is looked for again with growing pauses; the connection
//   then has a new "uuid" and windows made by attach() are made again.
//
// Only connect, makeLogin, LocalServiceError and the classes Connection and
// WindowHandle are the module's interface (see localservice.d.ts and
// REFERENCE.md beside this file).
// - attach(element) puts a native window over an element and keeps it there
//   through scrolling, resizing, zoom and layout changes; the parts of it
//   that page elements marked data-localservice-overlay (menus, dialogs)
//   cover are cut out of it while they are open.
//
// Needs a current browser (WebSocket, fetch, WebCrypto; CompressionStream
// and canvas for the image channel) or Node.js 20.
import { protectCredentials } from "./protect-credential.js";
import { usePageVideo } from "./pagevideo.js";

// The longest time the service holds a "system.get" long poll.
const POLL_MS = 15000;
// The longest pause between two background tries of the WebSocket.
const WEBSOCKET_RETRY_MAX_MS = 60000;

const DEFAULTS = {
  host: "127.0.0.1",
  portStart: 33686,
  portEnd: 33696,              // not included: the ports are portStart to portEnd - 1
  login: null,                 // from makeLogin(): run the port-detection handshake
  transports: ["websocket", "http", "image"],
  timeoutMs: 10000,            // per request, unless the request says otherwise
  detectTimeoutMs: 2000,       // a port whose listener stays this long silent is not the service
  webSocketTimeoutMs: 10000,   // the WebSocket to the port found, until its connect reply
  webSocketRetryMs: 5000,      // after a fall-back, the first background try of the WebSocket; then doubling
  pieceLength: 1500,           // Base64 characters per GET of the image channel
  reconnect: true,
  reconnectFirstDelayMs: 250,  // then doubling
  reconnectMaxDelayMs: 5000,
};
const KINDS = ["websocket", "http", "image"];

const encoder = new TextEncoder();
const decoder = new TextDecoder();
const inBrowser = typeof document !== "undefined";
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Failures of this module. kind tells what happened, the same on every
// transport:
//   "bad-option" an option or parameter the client refuses before any network work (option)
//   "not-found"  no service answered on the port range
//   "offline"    the connection is not open (the service went away, or is looked for again)
//   "destroyed"  the page closed the connection or destroyed the window
//   "timeout"    no answer within the request's time
//   "no-answer"  no such command (refused at once, no request sent), or the service dropped the request
//   "no-window"  a video command for a window that does not exist
//   "failed"     the service answered with an "errorCode" other than 0 (code, module, answer),
//                or a stream failed (play with until "firstFrame")
export class LocalServiceError extends Error {
  constructor(message, { kind, code, module, answer, option } = {}) {
    super(message);
    this.name = "LocalServiceError";
    this.kind = kind;
    this.code = code;
    this.module = module;
    this.answer = answer;
    this.option = option;
  }
}

// Every command of the service, written by make-reference.mjs from the
// service's command tables (web_reference fails when they differ). The
// service drops any other name unanswered, so request() refuses it at once.
const SERVICE_COMMANDS = new Set(`
video.startPlay video.stop video.reversePlay video.setTrsPlayBackParam video.startSave video.stopSave
video.openSound video.closeSound video.pause video.resume video.slow video.fast video.frame video.capture
video.stopAll video.arrangeWindow video.startTalk video.stopTalk video.setVolume video.enableZoom
video.disableZoom video.setFullScreenCapability video.fullScreen video.setPlaybackDrawType
video.setPlayBackType video.setSecretKey video.getEncryptString video.getDecryptString video.setOriginalString
video.setPlayMode video.browseFilePath video.openDirectory video.startAsynUpload video.stopAsynUpload
video.uploadFile video.getUploadErrorInfo video.getIpcImportErrorInfo video.downloadFile video.startUpgrade
video.stopUpgrade video.getUpgradeStatus video.getUpgradeProgress video.exportDeviceLog video.exportReport
video.setPTZCtrlEnable video.startAsyncDownload video.stopAsyncDownload video.getDownloadStatus
video.getDownloadProgress video.SRInit video.SRPTZ video.getOSDTime video.getLastError video.setCorrectionType
video.setPlaceType video.startFishListener video.stopFishListener video.setFishBoxListInfo
video.getFishBoxListInfo video.clearAllWndFishBoxInfo video.setFishWndProperty video.arrangeFECWindow
video.startFECScan video.stopFECScan video.fishEyePTZ video.fishEyeZoomIn video.fishEyeZoomOut
video.fishEyeGetPreset video.fishEyeSetPreset video.startFECCruise video.stopFECCruise video.getLocalConfig
video.setLocalConfig video.enablePDC video.setDrawStatus video.clearRegion video.setDrawShapeInfo
video.setGridInfo video.getGridInfo video.setRectInfo video.getRectInfo video.setPolygonInfo
video.getPolygonInfo video.setTextOverlay video.getTextOverlay video.setLineInfo video.getLineInfo
video.clearShapeByType video.setDrawCallback video.setPointInfo video.getPointInfo video.chooseShape
video.getPlayInfo video.setIsHttps video.setReconnectInfo video.setWndResolution video.setWndRatioMode
video.setWndLabels video.getEngineSupport window.createWnd window.showWnd window.hideWnd window.destroyWnd
window.setWndGeometry window.setWndZOrder window.setWndCover window.updateParentWnd
window.getLocalServiceVersion window.cuttingPartWindow window.repairPartWindow window.setWindowSelected
audio.startTalk audio.stopTalk audio.getTalkStatus audio.changeModel
`.trim().split(/\s+/));

// Every event of a window, written by make-reference.mjs from the service's
// event tables: a window handle dispatches each of them.
const SERVICE_EVENTS = new Set(`
window.onGetSelectWndInfo video.onDrawCallback window.onPluginEventHandler window.onMouseEvent
video.onDrawEvent window.onFullScreenChange window.onFisheyePTZInfo
`.trim().split(/\s+/));

const badOption = (option, why) => new LocalServiceError(`bad option ${option}: ${why}`, { kind: "bad-option", option });

// The connection's options, checked before any network work.
function checkOptions(options) {
  for (const name of Object.keys(options)) if (!(name in DEFAULTS)) throw badOption(name, "no such option");
  const all = { ...DEFAULTS, ...options };
  const port = (name) => {
    if (!Number.isInteger(all[name]) || all[name] < 1 || all[name] > 65536) throw badOption(name, "not a port number");
  };
  port("portStart");
  port("portEnd");
  if (all.portEnd <= all.portStart) throw badOption("portEnd", "must be above portStart (it is not included)");
  for (const name of ["timeoutMs", "detectTimeoutMs", "webSocketTimeoutMs", "webSocketRetryMs", "pieceLength",
                      "reconnectFirstDelayMs", "reconnectMaxDelayMs"]) {
    if (!Number.isFinite(all[name]) || all[name] <= 0) throw badOption(name, "not a positive number");
  }
  if (typeof all.host !== "string" || all.host === "") throw badOption("host", "not a host name");
  if (typeof all.reconnect !== "boolean") throw badOption("reconnect", "not true or false");
  if (!Array.isArray(all.transports) || all.transports.length === 0 ||
      all.transports.some((kind) => !KINDS.includes(kind))) {
    throw badOption("transports", `a list of ${KINDS.map((kind) => JSON.stringify(kind)).join(", ")}`);
  }
  const login = all.login;
  if (login != null) {
    if (typeof login !== "object") throw badOption("login", "not a login from makeLogin()");
    if (typeof login.sessionID !== "string" || !/^[0-9a-f]{64}$/i.test(login.sessionID)) throw badOption("login.sessionID", "not 64 hex digits");
    if (typeof login.user !== "string") throw badOption("login.user", "not a text");
    if (typeof login.challenge !== "string") throw badOption("login.challenge", "not a text");
    try { challengeInQuery(login.challenge); } catch (e) { throw badOption("login.challenge", e.message); }
    if (!Number.isInteger(login.iterations)) throw badOption("login.iterations", "not a whole number");
    if (!Number.isInteger(login.random)) throw badOption("login.random", "not a whole number");
  }
  return all;
}

// ---- Port detection --------------------------------------------------------

const REQUEST_LINE = "GET/OKAPI/Security/sessionLogin/capabilities";

function hex(buffer) {
  return Array.from(new Uint8Array(buffer), (b) => b.toString(16).padStart(2, "0")).join("");
}

// The login id the service checks: K = lowercase hex SHA-256 of
// user + iterations + challenge; login id = lowercase hex
// HMAC-SHA-256(key = the 64 characters of K, message = REQUEST_LINE + user + random).
// The request line may be at most 127 characters and the key material at
// most 1023, or the service stays silent.
async function makeLoginId(user, challenge, iterations, random) {
  const k = hex(await crypto.subtle.digest("SHA-256", encoder.encode(`${user}${iterations}${challenge}`)));
  const key = await crypto.subtle.importKey("raw", encoder.encode(k), { name: "HMAC", hash: "SHA-256" }, false, ["sign"]);
  return hex(await crypto.subtle.sign("HMAC", key, encoder.encode(`${REQUEST_LINE}${user}${random}`)));
}

// A page with a real device login passes the device's challenge and
// iterations; without one it can make up its own values, since the service
// only checks that the four values fit the login id.
export async function makeLogin(user, challenge, iterations) {
  challenge = challenge ?? hex(crypto.getRandomValues(new Uint8Array(16)));
  iterations = iterations ?? 100;
  const random = crypto.getRandomValues(new Uint32Array(1))[0] % 1000000000;
  const sessionID = await makeLoginId(user, challenge, iterations, random);
  return { sessionID, user, challenge, iterations, random };
}

// The challenge as the service reads it out of the query: it compares the
// text it finds there without percent-decoding it first, except that a
// space, "#", "{", "}", "|", "\", "^", quotation marks, "<", ">" and
// characters beyond ASCII arrive decoded. So Base64 and the other characters
// allowed in a query ("+", "/", "=", ...) go as they are, those few
// percent-encoded; "&", "%", "'" and "`" and control characters cannot be
// carried at all.
function challengeInQuery(challenge) {
  return Array.from(String(challenge), (c) => {
    if (/[A-Za-z0-9\-._~!$()*,;:@/?+=[\]]/.test(c)) return c;
    if (/[&%'`\x00-\x1f\x7f]/.test(c)) throw new LocalServiceError(`the challenge cannot carry ${JSON.stringify(c)} in a query`);
    return encodeURIComponent(c);
  }).join("");
}

// The handshake as a query (HTTP and the image channel); the user is
// percent-decoded by the service.
function detectQuery(login) {
  return `?&sessionID=${login.sessionID}&user=${encodeURIComponent(login.user)}` +
         `&challenge=${challengeInQuery(login.challenge)}&iterations=${login.iterations}&random=${login.random}`;
}

// A probe that failed; silent when the port's listener did not answer in time.
function notTheService(e) {
  const error = new LocalServiceError(`not the service: ${e.message}`, { kind: "not-found" });
  error.silent = e.kind === "timeout";
  return error;
}

function isConnectReply(message) {
  return message !== null && typeof message === "object" && message.errorCode === 0 &&
         typeof message.uuid === "string" && message.uuid !== "" && "version" in message;
}

function parse(text) {
  try { return JSON.parse(text); } catch { return null; }
}

// ---- Image channel codec ---------------------------------------------------

// The request text as the service expects it in the "data" pieces: zlib,
// each byte as a decimal number, joined by ",", Base64.
async function encodePacket(text) {
  const compressed = new Uint8Array(await new Response(
    new Blob([encoder.encode(text)]).stream().pipeThrough(new CompressionStream("deflate"))).arrayBuffer());
  return btoa(Array.from(compressed).join(","));
}

// Text of an answer image from the bytes of its BMP file: the pixel data
// runs bottom row first, each pixel blue, green, red, and the text is each
// pixel's red, green and blue in turn, up to the first zero byte.
function bmpText(bytes) {
  if (bytes.length < 54 || bytes[0] !== 0x42 || bytes[1] !== 0x4d) throw new LocalServiceError("not an answer image", { kind: "no-answer" });
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const pixels = bytes.subarray(view.getUint32(10, true));
  const out = [];
  for (let at = 0; at + 2 < pixels.length; at += 3) {
    for (const byte of [pixels[at + 2], pixels[at + 1], pixels[at]]) {
      if (byte === 0) return decoder.decode(new Uint8Array(out));
      out.push(byte);
    }
  }
  return decoder.decode(new Uint8Array(out));
}

// The same from an <img> drawn on a canvas (top row first in getImageData).
async function imageElementText(img) {
  const width = img.naturalWidth, height = img.naturalHeight;
  if (width === 0 || height === 0) return "";
  // No colour conversion, no alpha premultiplication: the pixels are bytes.
  const bitmap = await createImageBitmap(img, { colorSpaceConversion: "none", premultiplyAlpha: "none" });
  const canvas = document.createElement("canvas");
  canvas.width = width;
  canvas.height = height;
  const context = canvas.getContext("2d", { willReadFrequently: true });
  context.drawImage(bitmap, 0, 0);
  const rgba = context.getImageData(0, 0, width, height).data;
  const bottomUp = new Uint8Array(54 + width * height * 3);
  bottomUp.set([0x42, 0x4d]);
  new DataView(bottomUp.buffer).setUint32(10, 54, true);
  let at = 54;
  for (let y = height - 1; y >= 0; --y) {
    for (let x = 0; x < width; ++x) {
      const p = (y * width + x) * 4;
      bottomUp[at++] = rgba[p + 2];
      bottomUp[at++] = rgba[p + 1];
      bottomUp[at++] = rgba[p];
    }
  }
  return bmpText(bottomUp);
}

// HTTP through fetch with a time-out. Outside browsers the connection is
// not kept: the service closes it right after its answer, and a client that
// reused it would lose the next request.
async function fetchWithin(url, init, timeoutMs) {
  const abort = new AbortController();
  const timer = setTimeout(() => abort.abort(), timeoutMs);
  try {
    const response = await fetch(url, {
      ...init, cache: "no-store", signal: abort.signal, ...(inBrowser ? {} : { headers: { connection: "close" } }),
    });
    return new Uint8Array(await response.arrayBuffer());
  } catch (e) {
    if (abort.signal.aborted) throw new LocalServiceError("no answer in time", { kind: "timeout" });
    throw new LocalServiceError(`no answer: ${e.message}`, { kind: "no-answer" });
  } finally {
    clearTimeout(timer);
  }
}

// Loads one answer image and reads its text: in browsers as an <img>
// (which works where other requests to the service may not), elsewhere
// through fetch.
function loadImageText(url, timeoutMs) {
  if (!inBrowser || typeof Image !== "function") return fetchWithin(url, {}, timeoutMs).then(bmpText);
  return new Promise((resolve, reject) => {
    const img = new Image();
    img.crossOrigin = "anonymous";  // every answer allows every origin, so the canvas stays readable
    const timer = setTimeout(() => {
      img.src = "";
      reject(new LocalServiceError("no answer in time", { kind: "timeout" }));
    }, timeoutMs);
    img.onerror = () => {
      clearTimeout(timer);
      reject(new LocalServiceError("no image", { kind: "no-answer" }));
    };
    img.onload = () => {
      clearTimeout(timer);
      imageElementText(img).then(resolve, reject);
    };
    img.src = url;
  });
}

// ---- Transports ------------------------------------------------------------
// Each carries whole request objects and gives back the answer text:
// exchange(request, timeoutMs) -> Promise<text>. Events go to onevent(message),
// the loss of the service to onlost(reason).

// Video commands that need a window: without one they answer the empty
// text (as the service's video command table says).
const WINDOW_VIDEO_COMMANDS = new Set(`startPlay stop reversePlay setTrsPlayBackParam startSave stopSave
  openSound closeSound pause resume slow fast frame capture stopAll arrangeWindow startTalk stopTalk setVolume
  enableZoom disableZoom setFullScreenCapability fullScreen setPlaybackDrawType setPlayBackType setPlayMode
  setPTZCtrlEnable SRInit SRPTZ getOSDTime setCorrectionType setPlaceType startFishListener stopFishListener
  setFishBoxListInfo getFishBoxListInfo clearAllWndFishBoxInfo setFishWndProperty arrangeFECWindow startFECScan
  stopFECScan fishEyePTZ fishEyeZoomIn fishEyeZoomOut fishEyeGetPreset fishEyeSetPreset startFECCruise
  stopFECCruise enablePDC setDrawStatus clearRegion setDrawShapeInfo setGridInfo getGridInfo setRectInfo
  getRectInfo setPolygonInfo getPolygonInfo setTextOverlay getTextOverlay setLineInfo getLineInfo
  clearShapeByType setDrawCallback setPointInfo getPointInfo chooseShape getPlayInfo setIsHttps setReconnectInfo
  setWndResolution setWndRatioMode setWndLabels`.split(/\s+/));

// Video commands that answer the empty text even when the window exists.
const ALWAYS_EMPTY = new Set(["setPlaybackDrawType", "setPlayMode", "setPTZCtrlEnable", "enablePDC", "getLastError"]);

// How a request may be answered without its "sequence": "text" (the empty
// text), "sequence" (an empty "sequence": the audio module's start when it
// cannot read the request) or not at all.
function unsequencedAnswer(cmd) {
  const [module, command] = cmd.split(".");
  if (module === "video" && (WINDOW_VIDEO_COMMANDS.has(command) || ALWAYS_EMPTY.has(command))) return "text";
  if (cmd === "audio.startTalk") return "sequence";
  return "";
}

// One WebSocket. The service answers a connection's requests one after the
// other, in the order they were sent, each with the request's "sequence"
// except the empty answers above; a request no module takes gets no answer
// at all. So an answer with a sequence settles that request, one without
// settles the oldest waiting request that may answer that way, and every
// request sent before the one an answer settles is known to get none.
class WebSocketTransport {
  static open(host, port, options, timeoutMs = options.detectTimeoutMs) {
    return new Promise((resolve, reject) => {
      let socket;
      try { socket = new WebSocket(`ws://${host}:${port}/`); } catch (e) { reject(e); return; }
      const fail = (why) => {
        clearTimeout(timer);
        socket.onopen = socket.onmessage = socket.onerror = socket.onclose = null;
        try { socket.close(); } catch { /* never opened */ }
        reject(new LocalServiceError(why, { kind: "not-found" }));
      };
      const timer = setTimeout(() => fail("no connect reply"), timeoutMs);
      socket.onerror = () => fail("cannot connect");
      socket.onclose = () => fail("closed");
      socket.onopen = () => {
        const login = options.login;
        socket.send(JSON.stringify(login ? {
          cmd: "detectport", sessionID: login.sessionID, user: encodeURIComponent(login.user),
          challenge: login.challenge, iterations: login.iterations, random: String(login.random),
        } : { cmd: "system.webconnect" }));
      };
      socket.onmessage = (e) => {
        const reply = parse(e.data);
        if (!isConnectReply(reply)) { fail("not the service"); return; }
        clearTimeout(timer);
        resolve(new WebSocketTransport(socket, reply.uuid));
      };
    });
  }

  constructor(socket, uuid) {
    this.kind = "websocket";
    this.uuid = uuid;
    this.socket = socket;
    this.waiting = new Map();  // sequence -> { unsequenced, settle(text), fail(error) }, in sending order
    this.onevent = null;
    this.onlost = null;
    socket.onerror = null;
    socket.onmessage = (e) => this.receive(typeof e.data === "string" ? e.data : "");
    socket.onclose = () => {
      this.failAll(new LocalServiceError("the service went away", { kind: "offline" }));
      if (this.onlost) this.onlost("closed");
    };
  }

  exchange(request, timeoutMs) {
    return new Promise((settle, fail) => {
      const sequence = request.sequence;
      const timer = setTimeout(() => {
        this.waiting.delete(sequence);
        fail(new LocalServiceError(`no answer to ${request.cmd} in time`, { kind: "timeout" }));
      }, timeoutMs);
      this.waiting.set(sequence, {
        unsequenced: unsequencedAnswer(request.cmd),
        settle: (text) => { clearTimeout(timer); settle(text); },
        fail: (error) => { clearTimeout(timer); fail(error); },
      });
      try {
        this.socket.send(JSON.stringify(request));
      } catch (e) {
        this.waiting.get(sequence).fail(new LocalServiceError(e.message, { kind: "offline" }));
        this.waiting.delete(sequence);
      }
    });
  }

  receive(text) {
    const message = text === "" ? null : parse(text);
    if (message !== null && typeof message === "object" && "cmd" in message) {
      if (this.onevent) this.onevent(message);
      return;
    }
    let sequence;
    if (text === "") {
      sequence = this.oldestAnswering("text");
    } else if (message === null || typeof message !== "object") {
      return;
    } else if (typeof message.sequence === "string" && message.sequence !== "") {
      sequence = message.sequence;
    } else {
      sequence = this.oldestAnswering("sequence");
    }
    const entry = this.waiting.get(sequence);
    if (!entry) return;
    for (const [earlier, passed] of this.waiting) {
      if (earlier === sequence) break;
      this.waiting.delete(earlier);
      passed.fail(new LocalServiceError("the service dropped the request", { kind: "no-answer" }));
    }
    this.waiting.delete(sequence);
    entry.settle(text);
  }

  oldestAnswering(way) {
    for (const [sequence, entry] of this.waiting) if (entry.unsequenced === way) return sequence;
    return undefined;
  }

  failAll(error) {
    const entries = [...this.waiting.values()];
    this.waiting.clear();
    for (const entry of entries) entry.fail(error);
  }

  close() {
    this.onlost = null;
    this.failAll(new LocalServiceError("closed", { kind: "offline" }));
    this.socket.onclose = null;
    this.socket.close();
  }

  // When the page goes away: the last requests leave before the socket closes.
  sendNow(request) {
    try { this.socket.send(JSON.stringify(request)); } catch { /* closing anyway */ }
  }
}

// HTTP: every request on a connection of its own, its answer on the same
// connection; events through "system.get" long polls. PolledTransport keeps
// the poll going; the subclasses say how one request travels.
class PolledTransport {
  constructor(kind, uuid) {
    this.kind = kind;
    this.uuid = uuid;
    this.onevent = null;
    this.onlost = null;
    this.closed = false;
  }

  // Events from now on (when the connection takes the transport into use).
  start() {
    (async () => {
      while (!this.closed) {
        let text;
        try {
          // The service may hold it up to POLL_MS before it answers.
          text = await this.exchange({ cmd: "system.get", uuid: this.uuid }, POLL_MS + 10000);
        } catch {
          if (!this.closed) this.lose("no poll answer");
          return;
        }
        if (this.closed) return;
        if (text === "invalid") { this.lose("given up by the service"); return; }
        const message = parse(text);  // else "timeout": poll again
        if (message !== null && typeof message === "object" && "cmd" in message && this.onevent) this.onevent(message);
      }
    })();
  }

  lose(reason) {
    this.closed = true;
    if (this.onlost) this.onlost(reason);
  }

  close() {
    this.closed = true;
    this.onlost = null;
    this.exchange({ cmd: "system.disconnect", uuid: this.uuid }, 2000).catch(() => {});
  }
}

class HttpTransport extends PolledTransport {
  static async open(host, port, options) {
    const base = `http://${host}:${port}/`;
    try {
      if (options.login) {
        const text = bmpText(await fetchWithin(base + detectQuery(options.login), {}, options.detectTimeoutMs));
        if (text !== "detect") throw new Error(text);
      }
      const reply = parse(decoder.decode(await fetchWithin(base, {
        method: "POST", body: JSON.stringify({ cmd: "system.webconnect" }),
      }, options.detectTimeoutMs)));
      if (!isConnectReply(reply)) throw new Error("not a connect reply");
      return new HttpTransport(base, reply.uuid);
    } catch (e) {
      throw notTheService(e);
    }
  }

  constructor(base, uuid) {
    super("http", uuid);
    this.base = base;
  }

  // A string body goes as text/plain: no CORS preflight.
  async exchange(request, timeoutMs) {
    return decoder.decode(await fetchWithin(this.base, { method: "POST", body: JSON.stringify(request) }, timeoutMs));
  }

  sendNow(request) {
    const body = JSON.stringify(request);
    if (inBrowser && navigator.sendBeacon) navigator.sendBeacon(this.base, body);
    else fetch(this.base, { method: "POST", body, keepalive: true }).catch(() => {});
  }
}

let packetCounter = 0;

class ImageTransport extends PolledTransport {
  static async open(host, port, options) {
    const base = `http://${host}:${port}/`;
    try {
      if (options.login) {
        const text = await loadImageText(base + detectQuery(options.login), options.detectTimeoutMs);
        if (text !== "detect") throw new Error(text);
      }
      const transport = new ImageTransport(base, "", options.pieceLength);
      const reply = parse(await transport.exchange({ cmd: "system.webconnect" }, options.detectTimeoutMs));
      if (!isConnectReply(reply)) throw new Error("not a connect reply");
      transport.uuid = reply.uuid;
      return transport;
    } catch (e) {
      throw notTheService(e);
    }
  }

  constructor(base, uuid, pieceLength) {
    super("image", uuid);
    this.base = base;
    this.pieceLength = pieceLength;
  }

  // The request in pieces, one after the other; each piece before the last
  // is answered "continue", the last with the answer. The packet sequence
  // is unique per request, so that requests sent at the same time do not
  // mix. timeoutMs applies to each piece.
  async exchange(request, timeoutMs) {
    const packet = await encodePacket(JSON.stringify(request));
    const sequence = `${Date.now().toString(36)}${(packetCounter++).toString(36)}${Math.random().toString(36).slice(2, 8)}`;
    for (let at = 0; ; at += this.pieceLength) {
      const last = at + this.pieceLength >= packet.length;
      // Base64 characters go into the query unencoded.
      const url = `${this.base}?&data=${packet.slice(at, at + this.pieceLength)}&sequence=${sequence}${last ? "&isLast=true" : ""}`;
      let text;
      try {
        text = await loadImageText(url, timeoutMs);
      } catch (e) {
        // An image cannot carry the empty text: in browsers it fails to load.
        if (last && e.kind === "no-answer" && inBrowser && unsequencedAnswer(request.cmd) === "text") return "";
        throw e;
      }
      if (last) return text;
      if (text !== "continue") throw new LocalServiceError(`piece refused: ${text}`, { kind: "no-answer" });
    }
  }

  sendNow(request) {
    this.exchange(request, 2000).catch(() => {});
  }
}

const TRANSPORTS = {
  websocket: { available: () => typeof WebSocket === "function", open: WebSocketTransport.open },
  http: { available: () => typeof fetch === "function", open: HttpTransport.open },
  image: {
    available: () => typeof CompressionStream === "function" && (inBrowser ? typeof Image === "function" : typeof fetch === "function"),
    open: ImageTransport.open,
  },
};

// One probe per port finds the service: over HTTP (or the image channel
// where the page cannot POST to it), with the handshake when there is a
// login, each within detectTimeoutMs. A WebSocket then opens to that port
// alone with its own deadline, webSocketTimeoutMs: browsers slow new
// WebSockets down after failed ones, so a walk of WebSockets over the
// range would starve the one that matters. The probe's own client is kept
// as the fall-back, and closed when the WebSocket opens. A port that worked
// before (prefer) is probed first. Only the transports in options.transports
// are used; one listed before the WebSocket wins over it.
async function discover(options, prefer) {
  const usable = options.transports.filter((kind) => TRANSPORTS[kind].available());
  const ports = [];
  if (prefer && prefer.port >= options.portStart && prefer.port < options.portEnd) ports.push(prefer.port);
  for (let port = options.portStart; port < options.portEnd; ++port) if (!ports.includes(port)) ports.push(port);
  const probes = usable.filter((kind) => kind !== "websocket");
  for (const port of ports) {
    if (probes.length === 0) {
      // WebSocket alone: it is the probe.
      try { return placed(await WebSocketTransport.open(options.host, port, options), port); } catch { continue; }
    }
    let fallback = null;
    for (const kind of probes) {
      try {
        fallback = placed(await TRANSPORTS[kind].open(options.host, port, options), port);
        break;
      } catch (e) {
        if (e.silent) break;  // another probe would wait as long
      }
    }
    if (!fallback) continue;
    // The service answers on this port: a transport that failed just before
    // may have met it while it was still starting (as after a restart), so
    // the better ones are asked once more before settling for this one.
    for (const kind of probes.slice(0, probes.indexOf(fallback.kind))) {
      try {
        const better = placed(await TRANSPORTS[kind].open(options.host, port, options), port);
        fallback.close();
        fallback = better;
        break;
      } catch { /* not usable from this page */ }
    }
    if (!usable.includes("websocket") || usable.indexOf("websocket") > usable.indexOf(fallback.kind)) return fallback;
    try {
      const socket = await WebSocketTransport.open(options.host, port, options, options.webSocketTimeoutMs);
      fallback.close();
      return placed(socket, port);
    } catch {
      return fallback;
    }
  }
  throw new LocalServiceError(`LocalService not found on ports ${options.portStart} to ${options.portEnd - 1} of ` +
                              `${options.host}: start it (see its README) or check portStart and portEnd`, { kind: "not-found" });
}

function placed(transport, port) {
  transport.port = port;
  return transport;
}

// ---- Answers -----------------------------------------------------------------

// The promise's value for an answer text: the answer object, or null for
// the commands that answer nothing; a LocalServiceError for failures.
function interpret(request, text) {
  const [module, command] = request.cmd.split(".");
  if (text === "" && module === "video") {
    if (ALWAYS_EMPTY.has(command)) return null;
    throw new LocalServiceError(`${request.cmd}: no window ${request.uuid}`, { kind: "no-window" });
  }
  const answer = parse(text);
  if (answer === null || typeof answer !== "object") {
    throw new LocalServiceError(`${request.cmd}: unexpected answer ${JSON.stringify(text.slice(0, 80))}`, { kind: "no-answer" });
  }
  if (answer.errorCode !== undefined && answer.errorCode !== 0) {
    throw new LocalServiceError(`${request.cmd} failed: errorCode ${answer.errorCode}` +
                                (answer.errorMessage ? ` (${answer.errorMessage})` : ""),
                                { kind: "failed", code: answer.errorCode, module: answer.errorModule, answer });
  }
  return answer;
}

// ---- Connection ----------------------------------------------------------------

const live = new Set();  // open connections and windows, closed when the page goes away

// The client's own events (make-reference.mjs copies this table into the
// page authors' reference):
// | event | on | detail |
// |---|---|---|
// | disconnect | Connection | { uuid }: the service went away; requests reject with "offline" while it is looked for |
// | reconnect | Connection | { uuid, previousUuid, kind }: a new client at the service, after a restart or a change of transport; windows are made again |
// | transportchange | Connection | { kind, previousKind, uuid }: the connection moved to another transport (back to "websocket" after a fall-back) |
// | close | Connection | none: the connection closed (by the page, or the service went away with reconnect false) |
// | fullscreenchange | WindowHandle | { full, by, wndIndex }: by "command", "doubleClick" or "service" |
// | restored | WindowHandle | { uuid }: the window was made again after "reconnect", with its layout, ratio, full-screen capability, plays and selected picture |
// | error | WindowHandle | the LocalServiceError: making the window again, or keeping it over its element, failed |

// One client of the service: a "uuid" and a transport. Events of the
// service are dispatched as CustomEvents named by their "cmd" (detail: the
// event object); besides those: "disconnect" (detail: { uuid }: the service
// went away), "reconnect" (detail: { uuid, previousUuid, kind }: a new
// client at the service, after a restart or a change of transport),
// "transportchange" (detail: { kind, previousKind, uuid }) and "close".
export class Connection extends EventTarget {
  constructor(options = {}) {
    super();
    this.options = checkOptions(options);
    this.optionsGiven = options;
    this.transport = null;
    this.state = "closed";  // "open", "reconnecting" or "closed"
    this.closedByPage = false;
    this.nextSequence = 1;
    this.retryTimer = 0;
    this.audio = new AudioControls(this);
  }

  get uuid() { return this.transport ? this.transport.uuid : ""; }
  get kind() { return this.transport ? this.transport.kind : ""; }
  get port() { return this.transport ? this.transport.port : 0; }

  async open(prefer) {
    this.use(await discover(this.options, prefer));
    live.add(this);
    return this;
  }

  use(transport) {
    const previous = { uuid: this.uuid, kind: this.kind };
    this.transport = transport;
    this.state = "open";
    transport.onevent = (message) => this.dispatchEvent(new CustomEvent(message.cmd, { detail: message }));
    transport.onlost = () => { if (this.transport === transport) this.lost(); };
    if (transport.start) transport.start();
    this.retryWebSocket(this.options.webSocketRetryMs);
    return previous;
  }

  // After a fall-back: the WebSocket again, to the same port, with growing
  // pauses; when it opens the connection moves over to it (a new uuid: the
  // windows are made again, as after a restart).
  retryWebSocket(delay) {
    clearTimeout(this.retryTimer);
    this.retryTimer = 0;
    const usable = this.options.transports.filter((kind) => TRANSPORTS[kind].available());
    if (this.state !== "open" || this.kind === "websocket" || !usable.includes("websocket") ||
        usable.indexOf("websocket") > usable.indexOf(this.kind)) return;
    const from = this.transport;
    this.retryTimer = setTimeout(async () => {
      this.retryTimer = 0;
      let socket;
      try {
        socket = await WebSocketTransport.open(this.options.host, from.port, this.options, this.options.webSocketTimeoutMs);
      } catch {
        if (this.transport === from) this.retryWebSocket(Math.min(delay * 2, WEBSOCKET_RETRY_MAX_MS));
        return;
      }
      if (this.transport !== from || this.state !== "open") { socket.close(); return; }
      const previous = this.use(placed(socket, from.port));
      from.close();
      this.changed(previous);
    }, delay);
  }

  // Tells the page (and the windows) about a new client at the service.
  changed(previous) {
    this.dispatchEvent(new CustomEvent("reconnect", { detail: { uuid: this.uuid, previousUuid: previous.uuid, kind: this.kind } }));
    if (previous.kind !== this.kind) {
      this.dispatchEvent(new CustomEvent("transportchange", { detail: { kind: this.kind, previousKind: previous.kind, uuid: this.uuid } }));
    }
  }

  lost() {
    const previous = { uuid: this.uuid, kind: this.kind, port: this.port };
    this.transport = null;
    clearTimeout(this.retryTimer);
    this.retryTimer = 0;
    if (!this.options.reconnect) { this.close(false); return; }
    this.state = "reconnecting";
    this.dispatchEvent(new CustomEvent("disconnect", { detail: { uuid: previous.uuid } }));
    (async () => {
      for (let delay = this.options.reconnectFirstDelayMs; this.state === "reconnecting";
           delay = Math.min(delay * 2, this.options.reconnectMaxDelayMs)) {
        await sleep(delay * (0.75 + Math.random() / 2));
        if (this.state !== "reconnecting") return;
        let transport;
        try { transport = await discover(this.options, { port: previous.port }); } catch { continue; }
        if (this.state !== "reconnecting") { transport.close(); return; }
        this.use(transport);
        this.changed(previous);
        return;
      }
    })();
  }

  // Sends "cmd" ("window.showWnd", "video.startPlay", ...) with the
  // parameters; resolves with the answer object (null for the few video
  // commands that answer nothing), rejects with a LocalServiceError.
  async request(cmd, params = {}, { timeoutMs = this.options.timeoutMs } = {}) {
    if (this.state !== "open") {
      if (this.closedByPage) throw new LocalServiceError(`${cmd}: the connection was closed by the page`, { kind: "destroyed" });
      throw new LocalServiceError(`${cmd}: not connected (the service went away)`, { kind: "offline" });
    }
    if (typeof cmd !== "string" || !/^\w+\.\w+$/.test(cmd)) throw badOption("cmd", `not a command name: ${JSON.stringify(cmd)}`);
    if (!SERVICE_COMMANDS.has(cmd)) throw new LocalServiceError(`unknown command ${cmd}, no request sent`, { kind: "no-answer" });
    const request = { ...params, cmd, uuid: this.uuid, sequence: String(this.nextSequence++) };
    return interpret(request, await this.transport.exchange(request, timeoutMs));
  }

  // A request sent without waiting, for when the page goes away.
  sendNow(cmd, params = {}) {
    if (this.state === "open") this.transport.sendNow({ ...params, cmd, uuid: this.uuid, sequence: String(this.nextSequence++) });
  }

  // A native window over the element, on a connection of its own (the
  // service keeps one window per client "uuid").
  async attach(element, options = {}) {
    if (!element || typeof element.getBoundingClientRect !== "function") throw badOption("element", "not a page element");
    checkWindowOptions(options);
    if (this.state !== "open" && this.closedByPage) throw new LocalServiceError("attach: the connection was closed by the page", { kind: "destroyed" });
    const connection = new Connection(this.optionsGiven);
    await connection.open(this.transport ? { kind: this.kind, port: this.port } : undefined);
    const handle = new WindowHandle(connection, element, options);
    try {
      await handle.create();
    } catch (e) {
      connection.close();
      throw e;
    }
    return handle;
  }

  close(byPage = true) {
    const wasClosed = this.state === "closed";
    this.state = "closed";
    this.closedByPage = this.closedByPage || byPage;
    clearTimeout(this.retryTimer);
    this.retryTimer = 0;
    live.delete(this);
    if (this.transport) this.transport.close();
    this.transport = null;
    if (!wasClosed) this.dispatchEvent(new CustomEvent("close"));
  }
}

// Finds the service and opens a connection to it (options: see DEFAULTS).
// Refuses bad options ("bad-option") before any network work.
export async function connect(options = {}) {
  return new Connection(options).open();
}

// ---- Audio -----------------------------------------------------------------------

// Two-way talk with a device. The access and secret keys are protected in
// the page before they leave it.
class AudioControls {
  constructor(connection) { this.connection = connection; }

  // { address: "host:port", accessKey, secretKey, deviceSerial, alarmTime, talkId }
  // -> the answer: "handle", "audioTimeLeft", "talkId".
  async startTalk({ address, accessKey, secretKey, deviceSerial, alarmTime, talkId }) {
    const { Iv, values: [AK, SK] } = await protectCredentials([accessKey, secretKey]);
    return this.connection.request("audio.startTalk", {
      talkId, ZBCInfo: { address, AK, SK }, deviceSerial, alarmTime, Security: 1, Iv,
    });
  }

  stopTalk({ talkId, handle = -1 }) { return this.connection.request("audio.stopTalk", { talkId, handle }); }

  // Resolves with "talkStatus": 0 while the talk with this handle is healthy.
  talkStatus(handle) { return this.connection.request("audio.getTalkStatus", { handle }); }

  changeModel(handle, model) { return this.connection.request("audio.changeModel", { handle, model }); }
}

// ---- Windows over page elements -------------------------------------------------

// attach()'s options, checked before any network work.
function checkWindowOptions(options) {
  if (options === null || typeof options !== "object") throw badOption("options", "not an object");
  const types = { className: "string", embed: "boolean", overlays: "string", screenScale: "number" };
  for (const [name, type] of Object.entries(types)) {
    if (name in options && typeof options[name] !== type) throw badOption(name, `not a ${type}`);
  }
  if ("offset" in options && typeof options.offset !== "function" &&
      !(options.offset && Number.isFinite(options.offset.left) && Number.isFinite(options.offset.top))) {
    throw badOption("offset", "neither { left, top } nor a function giving it");
  }
}

const SIDES = ["left", "top", "right", "bottom"];
const PLAYING = new Set(["connecting", "playing", "paused", "reconnecting"]);

// The service finds the browser window by a "uuid" in its title while it
// creates a window; several windows may be looking at once.
const titleClaims = new Set();
let pageTitle = "";

function claimTitle(uuid) {
  if (titleClaims.size === 0) pageTitle = document.title;
  titleClaims.add(uuid);
  document.title = `${[...titleClaims].join(" ")} ${pageTitle}`;
  return () => {
    titleClaims.delete(uuid);
    document.title = titleClaims.size ? `${[...titleClaims].join(" ")} ${pageTitle}` : pageTitle;
  };
}

// Where the page's viewport lies in the browser window, in screen pixels.
// On X11 the browser draws its toolbar inside its window, above the
// viewport, with an invisible border of the same width on the other sides;
// elsewhere the service places windows against the content area itself.
function contentOffset(options) {
  if (options.offset) return typeof options.offset === "function" ? options.offset() : options.offset;
  if (!/X11|Linux/.test(navigator.userAgent) || /Android|CrOS/.test(navigator.userAgent)) return { left: 0, top: 0 };
  const screenScale = options.screenScale ?? 1;  // outer sizes are in screen units, inner ones zoomed
  const side = (window.outerWidth * screenScale - window.innerWidth * window.devicePixelRatio) / 2;
  return { left: Math.round(side), top: Math.round(window.outerHeight * screenScale - window.innerHeight * window.devicePixelRatio - side) };
}

function intersect(a, b) {
  const left = Math.max(a.left, b.left), top = Math.max(a.top, b.top);
  const right = Math.min(a.right, b.right), bottom = Math.min(a.bottom, b.bottom);
  return right > left && bottom > top ? { left, top, right, bottom } : null;
}

// The part of the element the page shows: inside the viewport and inside
// every ancestor that clips its content.
function shownPart(element) {
  const box = element.getBoundingClientRect();
  const root = document.documentElement;
  let shown = intersect(box, { left: 0, top: 0, right: root.clientWidth, bottom: root.clientHeight });
  for (let e = element.parentElement; shown && e && e !== root && e !== document.body; e = e.parentElement) {
    if (getComputedStyle(e).overflow === "visible") continue;
    const r = e.getBoundingClientRect();
    const left = r.left + e.clientLeft, top = r.top + e.clientTop;
    shown = intersect(shown, { left, top, right: left + e.clientWidth, bottom: top + e.clientHeight });
  }
  return { box, shown };
}

function isShown(element) {
  if (!element.isConnected) return false;
  if (typeof element.checkVisibility === "function") return element.checkVisibility({ checkVisibilityCSS: true });
  return element.getClientRects().length > 0 && getComputedStyle(element).visibility !== "hidden";
}

const sameRect = (a, b) => !!a && !!b && a.left === b.left && a.top === b.top && a.width === b.width && a.height === b.height;
const rectKey = (r) => `${r.left},${r.top},${r.width},${r.height},${r.round}`;

// A native window over a page element (from Connection.attach). Events:
// the service's events for this window by "cmd" ("window.onMouseEvent",
// "window.onGetSelectWndInfo", "window.onPluginEventHandler", ...),
// "fullscreenchange" (detail: { full, wndIndex, by }), "restored" (detail:
// { uuid }) after the window was made again for a new client at the
// service, and "error" (detail: the LocalServiceError) when making it again
// or keeping it over its element failed.
export class WindowHandle extends EventTarget {
  constructor(connection, element, options = {}) {
    super();
    this.connection = connection;
    this.element = element;
    // render: "native", "page" (pagevideo.js) or "auto": native unless the
    // service finds no browser window (5001, at once where it says it can
    // never see one), then in the page.
    this.options = { className: "Chrome", embed: true, overlays: "[data-localservice-overlay]", render: "auto", ...options };
    this.render = "native";
    this.video = new VideoControls(this);
    this.applied = null;          // what the service was last told: { shown, rect, cover, cuts }
    this.hiddenByPage = false;    // hide() / show()
    this.full = false;
    this.fullScreenCapability = true;
    this.leftFullScreen = false;  // a leave event that the next double click may have caused
    this.restore = new Map();     // key -> [cmd, params]: settings, plays and the selection made again with the window
    this.destroyed = false;
    this.syncing = false;
    this.dirty = false;
    this.frame = 0;
    this.observers = [];
    this.listeners = [];
    connection.addEventListener("reconnect", () => this.remake());
    connection.addEventListener("disconnect", () => { this.applied = null; });
    connection.addEventListener("window.onGetSelectWndInfo", (e) => {
      if (Number.isInteger(e.detail.wndIndex)) this.restore.set("select", ["window.setWindowSelected", { wndIndex: e.detail.wndIndex }]);
    });
    for (const name of SERVICE_EVENTS) {
      connection.addEventListener(name, (e) => this.onServiceEvent(e.detail));
    }
  }

  get uuid() { return this.connection.uuid; }

  async create() {
    let inPage = this.options.render === "page";
    const release = inPage ? () => {} : claimTitle(this.uuid);
    const wanted = this.wanted();
    const rect = wanted.rect ?? this.fullRect();
    try {
      // The browser shows the new title a little later: until the service
      // finds it, it answers 5001 and is asked again.
      for (let delay = 50; !inPage; delay *= 2) {
        try {
          await this.connection.request("window.createWnd", { rect, className: this.options.className, embed: this.options.embed });
          break;
        } catch (e) {
          // Where the service can never see the browser's window it says so
          // at once ("nativeWindows" false): no use asking again.
          inPage = e.code === 5001 && (delay > 3200 || e.answer?.nativeWindows === false) && this.options.render === "auto";
          if (inPage) break;
          if (e.code !== 5001 || delay > 3200) throw e;
          await sleep(delay);
        }
      }
    } finally {
      release();
    }
    if (inPage) {
      await usePageVideo(this);
      live.add(this);
      return;
    }
    this.applied = { shown: true, rect, cover: { left: 0, top: 0, right: 0, bottom: 0 }, cuts: [] };
    this.watch();
    live.add(this);
    this.sync();
  }

  // A new service (new uuid): the window again, and what played in it.
  async remake() {
    try {
      this.full = false;
      await this.create();
      // Settings and the layout first, then the plays, then the selection.
      const order = (key) => (key === "select" ? 2 : key.startsWith("startPlay:") ? 1 : 0);
      const entries = [...this.restore].sort(([a], [b]) => order(a) - order(b));
      for (const [, [cmd, params]] of entries) await this.connection.request(cmd, params);
      this.dispatchEvent(new CustomEvent("restored", { detail: { uuid: this.uuid } }));
    } catch (e) {
      this.dispatchEvent(new CustomEvent("error", { detail: e }));
    }
  }

  fullRect() {
    const scale = window.devicePixelRatio, offset = contentOffset(this.options);
    const box = this.element.getBoundingClientRect();
    return { left: Math.round(box.left * scale) + offset.left, top: Math.round(box.top * scale) + offset.top,
             width: Math.max(1, Math.round(box.width * scale)), height: Math.max(1, Math.round(box.height * scale)) };
  }

  // What the service should show now, in screen pixels: the window over the
  // shown part of the element, the margins by which the video reaches past
  // it (so the picture stays where the element is), and the parts that
  // overlays cover, relative to the window.
  wanted() {
    if (document.visibilityState !== "visible" || this.hiddenByPage || !isShown(this.element)) return { shown: false };
    const { box, shown } = shownPart(this.element);
    if (!shown) return { shown: false };
    const scale = window.devicePixelRatio, offset = contentOffset(this.options);
    const px = (r) => ({ left: Math.round(r.left * scale), top: Math.round(r.top * scale),
                         right: Math.round(r.right * scale), bottom: Math.round(r.bottom * scale) });
    const all = px(box), part = px(shown);
    if (part.right <= part.left || part.bottom <= part.top) return { shown: false };
    const cuts = [];
    for (const overlay of document.querySelectorAll(this.options.overlays)) {
      if (overlay === this.element || overlay.contains(this.element) || !isShown(overlay)) continue;
      const over = intersect(overlay.getBoundingClientRect(), shown);
      if (!over) continue;
      const left = Math.floor(over.left * scale), top = Math.floor(over.top * scale);
      cuts.push({ left: left - part.left, top: top - part.top, width: Math.ceil(over.right * scale) - left,
                  height: Math.ceil(over.bottom * scale) - top, round: Number(overlay.dataset.localserviceOverlay) || 0 });
    }
    return {
      shown: true,
      rect: { left: part.left + offset.left, top: part.top + offset.top, width: part.right - part.left, height: part.bottom - part.top },
      cover: { left: part.left - all.left, top: part.top - all.top, right: all.right - part.right, bottom: all.bottom - part.bottom },
      cuts,
    };
  }

  // Brings the service to what wanted() says, one request at a time; a
  // change while that runs starts another round.
  async sync() {
    if (this.syncing) { this.dirty = true; return; }
    this.syncing = true;
    try {
      do {
        this.dirty = false;
        if (this.applied && this.connection.state === "open") await this.apply(this.wanted());
      } while (this.dirty);
    } catch (e) {
      // Without a service the window is made again when one is found.
      if (e.kind !== "offline") this.dispatchEvent(new CustomEvent("error", { detail: e }));
    } finally {
      this.syncing = false;
    }
  }

  async apply(want) {
    const a = this.applied;
    const send = (cmd, params) => this.connection.request(cmd, params);
    if (!want.shown) {
      if (a.shown) await send("window.hideWnd");
      a.shown = false;
      return;
    }
    // A changed size (a cover moves the window's edge) drops every cut.
    for (const side of SIDES) {
      if (want.cover[side] === a.cover[side]) continue;
      await send("window.setWndCover", { position: side, size: want.cover[side] });
      a.cover[side] = want.cover[side];
      a.rect = null;
      a.cuts = [];
    }
    if (!sameRect(want.rect, a.rect)) {
      await send("window.setWndGeometry", { rect: want.rect });
      if (!a.rect || a.rect.width !== want.rect.width || a.rect.height !== want.rect.height) a.cuts = [];
      a.rect = want.rect;
    }
    if (!a.shown) {
      await send("window.showWnd");
      a.shown = true;
    }
    const keys = new Set(want.cuts.map(rectKey));
    if (a.cuts.some((cut) => !keys.has(rectKey(cut)))) {
      await send("window.repairPartWindow", { rect: { left: 0, top: 0, width: want.rect.width, height: want.rect.height }, round: 0 });
      a.cuts = [];
    }
    const done = new Set(a.cuts.map(rectKey));
    for (const cut of want.cuts) {
      if (done.has(rectKey(cut))) continue;
      await send("window.cuttingPartWindow", { rect: { left: cut.left, top: cut.top, width: cut.width, height: cut.height }, round: cut.round });
      a.cuts.push(cut);
    }
  }

  // Another round on the next frame (at once while the page is hidden,
  // where frames stop).
  schedule() {
    if (document.visibilityState !== "visible") { this.sync(); return; }
    if (this.frame) return;
    this.frame = requestAnimationFrame(() => {
      this.frame = 0;
      this.sync();
    });
  }

  watch() {
    if (this.observers.length) return;
    const schedule = () => this.schedule();
    const on = (target, type, options) => {
      target.addEventListener(type, schedule, options);
      this.listeners.push(() => target.removeEventListener(type, schedule, options));
    };
    on(window, "scroll", { capture: true, passive: true });  // the page or any scrolling element
    on(window, "resize");
    on(document, "visibilitychange");
    on(document, "transitionend");
    on(document, "animationend");
    on(document, "fullscreenchange");
    const resize = new ResizeObserver(schedule);
    resize.observe(this.element);
    resize.observe(document.documentElement);
    const intersection = new IntersectionObserver(schedule, { threshold: [0, 0.25, 0.5, 0.75, 1] });
    intersection.observe(this.element);
    // Layout changes that move the element, and overlays opening and closing.
    const mutation = new MutationObserver(schedule);
    mutation.observe(document.documentElement, { attributes: true, childList: true, subtree: true, characterData: true });
    this.observers.push(resize, intersection, mutation);
  }

  // The page hides or shows the window itself (it also follows the element
  // and the tab).
  hide() { return this.hiddenBy(true); }
  show() { return this.hiddenBy(false); }

  async hiddenBy(hidden) {
    if (this.destroyed) throw new LocalServiceError("the window was destroyed", { kind: "destroyed" });
    this.hiddenByPage = hidden;
    return this.sync();
  }

  // Full screen by command; leaving it (by command, a double click or the
  // Escape key) comes as a "fullscreenchange" event with full false.
  async fullScreen(full = true) {
    const answer = await this.video.command("fullScreen", { full });
    if (full && !this.full) this.fullScreenChanged(true, { by: "command" });
    return answer;
  }

  // Whether a double click on a playing picture switches full screen.
  async setFullScreenCapability(on) {
    const answer = await this.video.command("setFullScreenCapability", { mode: on ? 1 : 0 });
    this.fullScreenCapability = on;
    this.restore.set("setFullScreenCapability", ["video.setFullScreenCapability", { mode: on ? 1 : 0 }]);
    return answer;
  }

  fullScreenChanged(full, detail) {
    this.full = full;
    this.dispatchEvent(new CustomEvent("fullscreenchange", { detail: { full, ...detail } }));
  }

  // The service says when full screen ends, not when a double click starts
  // it: a double click on a picture that plays enters it unless it was
  // what just ended it (the end comes right before the click).
  async onServiceEvent(message) {
    this.dispatchEvent(new CustomEvent(message.cmd, { detail: message }));
    if (message.cmd === "window.onFullScreenChange" && message.full === false) {
      this.leftFullScreen = true;
      this.fullScreenChanged(false, { by: "service" });
      return;
    }
    if (message.cmd !== "window.onMouseEvent") return;
    const mouse = message.mouseInfo || {};
    const justLeft = this.leftFullScreen;
    this.leftFullScreen = false;
    if (mouse.type !== "doubleClick" || justLeft || this.full || !this.fullScreenCapability) return;
    try {
      const info = await this.video.command("getPlayInfo", { wndIndex: mouse.wndIndex });
      if (PLAYING.has(info.state) && !this.full) this.fullScreenChanged(true, { by: "doubleClick", wndIndex: mouse.wndIndex });
    } catch { /* the window went away */ }
  }

  // Takes the window away and closes its connection; afterwards its
  // methods reject with "destroyed".
  async destroy() {
    if (this.destroyed) return;
    this.destroyed = true;
    this.unwatch();
    live.delete(this);
    try { await this.connection.request("window.destroyWnd"); } catch { /* gone already */ }
    this.connection.close();
  }

  // The page goes away: nothing may wait for an answer.
  destroyNow() {
    this.destroyed = true;
    this.unwatch();
    live.delete(this);
    this.connection.sendNow("window.destroyWnd");
    this.connection.close();
  }

  unwatch() {
    for (const observer of this.observers) observer.disconnect();
    for (const remove of this.listeners) remove();
    this.observers = [];
    this.listeners = [];
    if (this.frame) cancelAnimationFrame(this.frame);
    this.frame = 0;
  }
}

// Video in a window: each method sends "video.<command>" with the window's
// uuid and resolves with the answer (keys of the video library merged in).
// command() reaches every video command, drawing included. What plays and
// the layout are remembered and set again when the window is made again.
class VideoControls {
  constructor(handle) { this.handle = handle; }

  command(name, params = {}, options) {
    if (this.handle.destroyed) return Promise.reject(new LocalServiceError(`video.${name}: the window was destroyed`, { kind: "destroyed" }));
    return this.handle.connection.request(`video.${name}`, params, options);
  }

  async remembered(name, params, key = name) {
    const answer = await this.command(name, params);
    this.handle.restore.set(key, [`video.${name}`, params]);
    return answer;
  }

  // { wndIndex, username, password, live, ... }; without wndIndex the
  // selected play window. until: "answer" (the default) resolves when the
  // service took the play; "firstFrame" when the first picture is shown,
  // and rejects with the stream's error event ("failed", code and the
  // library's text) or after timeoutMs ("timeout").
  async play(url, { until = "answer", timeoutMs = this.handle.connection.options.timeoutMs, ...params } = {}) {
    if (typeof url !== "string" || url.trim() === "") throw badOption("url", "not a text");
    if (until !== "answer" && until !== "firstFrame") throw badOption("until", 'neither "answer" nor "firstFrame"');
    if (!Number.isFinite(timeoutMs) || timeoutMs <= 0) throw badOption("timeoutMs", "not a positive number");
    // Events may come before the answer (over HTTP and the image channel
    // after it): they are kept until the answer names the play window.
    const events = [];
    let notify = () => {};
    const listener = (e) => { events.push(e.detail); notify(); };
    if (until === "firstFrame") this.handle.addEventListener("window.onPluginEventHandler", listener);
    try {
      const answer = await this.command("startPlay", { ...params, url });
      const wndIndex = answer && answer.wndIndex !== undefined ? answer.wndIndex : params.wndIndex;
      this.handle.restore.set(`startPlay:${wndIndex}`, ["video.startPlay", { ...params, url, wndIndex }]);
      if (until === "answer") return answer;
      const outcome = (event) => event.wndIndex === wndIndex && (event.event === "firstFrame" || event.event === "error");
      let timer;
      const event = await new Promise((resolve, reject) => {
        timer = setTimeout(() => reject(new LocalServiceError(`video.startPlay: no picture from ${url} in ${timeoutMs} ms`, { kind: "timeout" })), timeoutMs);
        notify = () => { const found = events.find(outcome); if (found) resolve(found); };
        notify();
      }).finally(() => clearTimeout(timer));
      if (event.event === "error") {
        throw new LocalServiceError(`video.startPlay: ${event.errorMessage} (errorCode ${event.errorCode})`,
                                    { kind: "failed", code: event.errorCode, module: event.errorModule, answer: event });
      }
      return answer;
    } finally {
      this.handle.removeEventListener("window.onPluginEventHandler", listener);
    }
  }

  async stop(params = {}) {
    const answer = await this.command("stop", params);
    this.handle.restore.delete(`startPlay:${answer && answer.wndIndex !== undefined ? answer.wndIndex : params.wndIndex}`);
    return answer;
  }

  async stopAll() {
    const answer = await this.command("stopAll");
    for (const key of [...this.handle.restore.keys()]) if (key.startsWith("startPlay:")) this.handle.restore.delete(key);
    return answer;
  }

  // 1, 4, 9, 16 play windows, or rows of cells ([[{}, {}], [{}]]).
  layout(layout) { return this.remembered("arrangeWindow", { layout }); }
  // "fit", "fill" or "stretch"
  ratio(mode, params = {}) { return this.remembered("setWndRatioMode", { ...params, mode }, `setWndRatioMode:${params.wndIndex ?? "all"}`); }
  // Selects a play window (as a click on it does): commands without
  // wndIndex act on it.
  async select(wndIndex) {
    if (this.handle.destroyed) throw new LocalServiceError("window.setWindowSelected: the window was destroyed", { kind: "destroyed" });
    const answer = await this.handle.connection.request("window.setWindowSelected", { wndIndex });
    this.handle.restore.set("select", ["window.setWindowSelected", { wndIndex }]);
    return answer;
  }
  pause(params = {}) { return this.command("pause", params); }
  resume(params = {}) { return this.command("resume", params); }
  info(params = {}) { return this.command("getPlayInfo", params); }
  // -> "path", "width", "height"
  snapshot(params = {}) { return this.command("capture", params); }
  startRecord(params = {}) { return this.command("startSave", params); }
  // -> "path", "duration"; the file is complete when this resolves.
  stopRecord(params = {}) { return this.command("stopSave", params); }
  // rect: { x, y, width, height } as fractions of the picture; none: drag to zoom.
  zoom(params = {}) { return this.command("enableZoom", params); }
  unzoom() { return this.command("disableZoom"); }
  sound(on, params = {}) { return on ? this.command("openSound", params) : this.command("closeSound"); }
  volume(volume, params = {}) { return this.command("setVolume", { ...params, volume }); }
  // Drawing on the picture: the shape to draw next (setDrawStatus), and
  // clearing all shapes; set*Info / get*Info go through command().
  draw(params) { return this.command("setDrawStatus", params); }
  clearDrawing() { return this.command("clearRegion"); }
}

// The page goes away: its windows go with it.
if (inBrowser) {
  window.addEventListener("pagehide", () => {
    for (const item of [...live]) {
      if (item instanceof WindowHandle) item.destroyNow();
      else item.close();
    }
  });
}
