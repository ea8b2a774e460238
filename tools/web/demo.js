// The demonstration page's own logic: buttons, log, and an automatic run
// (index.html?auto=1&portStart=...&portEnd=...&pieceLength=...&report=URL)
// that tries every path once and posts what it read to the report URL.
"use strict";

const $ = (id) => document.getElementById(id);
const params = new URLSearchParams(location.search);
for (const key of ["host", "portStart", "portEnd", "user", "pieceLength"]) {
  if (params.has(key)) $(key).value = params.get(key);
}

function log(text, cls) {
  const line = document.createElement("div");
  line.textContent = text;
  if (cls) line.className = cls;
  $("log").appendChild(line);
}

const settings = () => ({
  host: $("host").value,
  portStart: Number($("portStart").value),
  portEnd: Number($("portEnd").value),
  user: $("user").value,
  pieceLength: Number($("pieceLength").value),
});

let found = null;  // { port, login }

$("find").onclick = async () => {
  const s = settings();
  const login = await LocalService.makeLogin(s.user);
  log(`login id ${login.sessionID} for user ${s.user}, challenge ${login.challenge}, ` +
      `iterations ${login.iterations}, random ${login.random}`);
  try {
    const result = await LocalService.findService({ ...s, login });
    found = { port: result.port, login };
    log(`found on port ${result.port} over ${result.transport}, uuid ${result.connection.uuid}`, "ok");
    if (result.transport === "websocket") result.connection.close();
    $("versionWs").disabled = false;
    $("versionImage").disabled = false;
  } catch (e) {
    log(e.message, "fail");
  }
};

$("versionWs").onclick = async () => {
  const s = settings();
  try {
    const { connection, replyText } = await LocalService.detectOverWebSocket(s.host, found.port, found.login);
    log(`WebSocket connect reply: ${replyText}`);
    const { text } = await connection.request({ cmd: "window.getLocalServiceVersion" });
    log(`WebSocket answer: ${text}`, "ok");
    connection.close();
  } catch (e) {
    log(`WebSocket: ${e.message}`, "fail");
  }
};

$("versionImage").onclick = async () => {
  const s = settings();
  try {
    const connection = new LocalService.ImageConnection(s.host, found.port, s.pieceLength);
    const reply = await connection.connect();
    log(`image channel connect reply: ${JSON.stringify(reply)}`);
    const { text, pieces } = await connection.request({ cmd: "window.getLocalServiceVersion" });
    log(`image channel answer (${pieces} pieces): ${text}`, "ok");
  } catch (e) {
    log(`image channel: ${e.message}`, "fail");
  }
};

// ---- automatic run ----

async function settle(promise) {
  try { return await promise; } catch (e) { return `error: ${e.message}`; }
}

async function autoRun() {
  const s = settings();
  const port = s.portStart;
  const report = {};
  const login = await LocalService.makeLogin(s.user);
  report.user = s.user;

  report.imageDetect = await settle(LocalService.detectOverImage(s.host, port, login));
  const wrong = { ...login, sessionID: login.sessionID.toUpperCase() };
  report.imageDetectWrong = await settle(LocalService.detectOverImage(s.host, port, wrong, 2000));
  // A device challenge in Base64 ("+", "/" and "=").
  const base64Login = await LocalService.makeLogin(s.user, "q+8/Zw==", 100);
  report.imageDetectBase64 = await settle(LocalService.detectOverImage(s.host, port, base64Login));

  const image = new LocalService.ImageConnection(s.host, port, s.pieceLength);
  report.imageConnect = await settle(image.connect().then((m) => JSON.stringify(m)));
  const imageVersion = await settle(image.request({ cmd: "window.getLocalServiceVersion" }));
  report.imageVersion = typeof imageVersion === "string" ? imageVersion : imageVersion.text;
  report.imagePieces = imageVersion.pieces ?? 0;
  report.imageContinues = image.lastPieceAnswers;
  report.imageUuid = image.uuid;
  if (params.has("poll")) {
    // A long poll with nothing to fetch ends with "timeout" when the service says so.
    const poll = await settle(image.request({ cmd: "system.get" }));
    report.imagePoll = typeof poll === "string" ? poll : poll.text;
  }

  const ws = await settle(LocalService.detectOverWebSocket(s.host, port, login));
  report.wsDetect = typeof ws === "string" ? ws : ws.replyText;
  if (typeof ws !== "string") {
    report.wsUuid = ws.connection.uuid;
    const wsVersion = await settle(ws.connection.request({ cmd: "window.getLocalServiceVersion" }));
    report.wsVersion = typeof wsVersion === "string" ? wsVersion : wsVersion.text;
    ws.connection.close();
  }
  report.wsDetectWrong = await settle(LocalService.detectOverWebSocket(s.host, port, wrong, 1500)
    .then(({ replyText }) => replyText));

  log(JSON.stringify(report, null, 1));
  document.title = "done";
  if (params.has("report")) {
    // text/plain keeps this a simple request (no preflight).
    await fetch(params.get("report"), { method: "POST", body: JSON.stringify(report),
                                        headers: { "Content-Type": "text/plain" } });
  }
}

if (params.get("auto") === "1") {
  autoRun().catch((e) => {
    log(`automatic run failed: ${e.message}`, "fail");
    if (params.has("report")) {
      fetch(params.get("report"), { method: "POST", body: JSON.stringify({ failed: e.message }),
                                    headers: { "Content-Type": "text/plain" } });
    }
  });
}
