// Talking to LocalService from a web page.
//
// Copy this file into your page. It needs nothing but a current browser:
// WebCrypto (crypto.subtle) for the login id, CompressionStream for the
// image channel, and either WebSocket or plain <img> loading.
//
//   const login = await LocalService.makeLogin("user@example.com");
//   const found = await LocalService.findService({ portStart: 33686, portEnd: 33696, login });
//   // found = { port, transport: "websocket" | "image", connection }
//   const answer = await found.connection.request({ cmd: "window.getLocalServiceVersion" });
//
// Two transports, both on the same port:
// - WebSocket: one JSON text per frame each way.
// - Image channel, for pages that cannot open a WebSocket: the request is
//   zlib-compressed, each byte written as a decimal number, the numbers joined
//   by ",", the text Base64-encoded and cut into pieces sent as GET queries
//   "&data=<piece>&sequence=<id>" (the last one with "&isLast=true"). Every
//   answer is a small BMP image whose pixels hold the answer text.
//
// The port-detection handshake lets the page make sure the port it found is
// really the service: the service answers only when it can recompute the
// page's login id (an HMAC-SHA-256) from the user, challenge, iterations and
// random number the page sends along.
"use strict";

const LocalService = (() => {
  const REQUEST_LINE = "GET/OKAPI/Security/sessionLogin/capabilities";
  const encoder = new TextEncoder();

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
  // iterations; without one it can make up its own values, since the
  // service only checks that the four values fit the login id.
  async function makeLogin(user, challenge, iterations) {
    challenge = challenge ?? hex(crypto.getRandomValues(new Uint8Array(16)));
    iterations = iterations ?? 100;
    const random = crypto.getRandomValues(new Uint32Array(1))[0] % 1000000000;
    const sessionID = await makeLoginId(user, challenge, iterations, random);
    return { sessionID, user, challenge, iterations, random };
  }

  // ---- WebSocket ----

  class WebSocketConnection {
    constructor(socket) {
      this.socket = socket;
      this.uuid = "";
      this.nextSequence = 1;
      this.waiting = new Map();  // sequence -> resolve
      this.onEvent = null;       // events (texts with a "cmd") land here
      socket.addEventListener("message", (e) => this.onMessage(e.data));
    }

    onMessage(text) {
      let message;
      try { message = JSON.parse(text); } catch { return; }
      if (message.cmd !== undefined) { if (this.onEvent) this.onEvent(message, text); return; }
      const resolve = this.waiting.get(String(message.sequence));
      if (resolve) { this.waiting.delete(String(message.sequence)); resolve({ message, text }); }
    }

    // Sends one request and resolves with { message, text } of its response.
    request(request, timeoutMs = 10000) {
      const sequence = String(this.nextSequence++);
      const full = { uuid: this.uuid, sequence, ...request };
      return new Promise((resolve, reject) => {
        const timer = setTimeout(() => { this.waiting.delete(sequence); reject(new Error("no answer")); }, timeoutMs);
        this.waiting.set(sequence, (answer) => { clearTimeout(timer); resolve(answer); });
        this.socket.send(JSON.stringify(full));
      });
    }

    close() { this.socket.close(); }
  }

  // Opens a WebSocket and runs "detectport". Resolves with the connection
  // (its uuid taken from the connect reply) and the reply text; rejects when
  // nothing listens, the handshake stays unanswered or time runs out.
  function detectOverWebSocket(host, port, login, timeoutMs = 3000) {
    return new Promise((resolve, reject) => {
      let socket;
      try { socket = new WebSocket(`ws://${host}:${port}/`); } catch (e) { reject(e); return; }
      const fail = (why) => { clearTimeout(timer); socket.close(); reject(new Error(why)); };
      const timer = setTimeout(() => fail("no answer"), timeoutMs);
      socket.onerror = () => fail("cannot connect");
      socket.onopen = () => {
        socket.send(JSON.stringify({
          cmd: "detectport",
          sessionID: login.sessionID,
          user: encodeURIComponent(login.user),  // the service percent-decodes it
          challenge: login.challenge,
          iterations: login.iterations,
          random: String(login.random),
        }));
      };
      socket.onmessage = (e) => {
        clearTimeout(timer);
        socket.onmessage = null;
        socket.onerror = null;
        let reply;
        try { reply = JSON.parse(e.data); } catch { fail("not a connect reply"); return; }
        if (reply.errorCode !== 0 || typeof reply.uuid !== "string") { fail("not a connect reply"); return; }
        const connection = new WebSocketConnection(socket);
        connection.uuid = reply.uuid;
        resolve({ connection, replyText: e.data });
      };
    });
  }

  // ---- Image channel ----

  // Loads one answer image and reads its text: rows from the bottom up,
  // each pixel's red, green and blue in turn, up to the first zero byte.
  // Rejects when the service sends no image (for example after a failed
  // handshake).
  function loadImageText(url, timeoutMs = 10000) {
    return new Promise((resolve, reject) => {
      const img = new Image();
      img.crossOrigin = "anonymous";  // the service allows every origin, so the canvas stays readable
      const timer = setTimeout(() => { img.src = ""; reject(new Error("no answer")); }, timeoutMs);
      img.onerror = () => { clearTimeout(timer); reject(new Error("no image")); };
      img.onload = async () => {
        clearTimeout(timer);
        try { resolve(await readImageText(img)); } catch (e) { reject(e); }
      };
      img.src = url;
    });
  }

  async function readImageText(img) {
    const width = img.naturalWidth, height = img.naturalHeight;
    if (width === 0 || height === 0) return "";
    // No colour conversion, no alpha premultiplication: the pixels are bytes.
    const bitmap = await createImageBitmap(img, { colorSpaceConversion: "none", premultiplyAlpha: "none" });
    const canvas = document.createElement("canvas");
    canvas.width = width;
    canvas.height = height;
    const context = canvas.getContext("2d", { willReadFrequently: true });
    context.drawImage(bitmap, 0, 0);
    const pixels = context.getImageData(0, 0, width, height).data;  // RGBA, top row first
    const bytes = [];
    for (let y = height - 1; y >= 0; --y) {
      for (let x = 0; x < width; ++x) {
        const at = (y * width + x) * 4;
        for (let channel = 0; channel < 3; ++channel) {
          const value = pixels[at + channel];
          if (value === 0) return new TextDecoder().decode(new Uint8Array(bytes));
          bytes.push(value);
        }
      }
    }
    return new TextDecoder().decode(new Uint8Array(bytes));
  }

  // The request text as the service expects it in the "data" pieces.
  async function encodePacket(text) {
    const compressed = new Uint8Array(await new Response(
      new Blob([encoder.encode(text)]).stream().pipeThrough(new CompressionStream("deflate"))).arrayBuffer());
    const decimal = Array.from(compressed).join(",");  // ASCII only
    return btoa(decimal);
  }

  let sequenceCounter = 0;

  // The longest time the service holds a "system.get" before it answers.
  const POLL_MS = 15000;

  class ImageConnection {
    // pieceLength: Base64 characters per GET; keep URLs well below 2000.
    constructor(host, port, pieceLength = 1500) {
      this.base = `http://${host}:${port}/`;
      this.pieceLength = pieceLength;
      this.uuid = "";
      this.nextSequence = 1;
      this.lastPieceAnswers = [];  // texts read from the "continue" images of the last request
    }

    // Sends one request in pieces, one after the other, and resolves with
    // { message, text } of the answer (message is null if it is not JSON).
    // timeoutMs limits each piece; a "system.get" long poll may take up to
    // POLL_MS before the service answers, so it gets longer by default.
    async request(request, timeoutMs = request.cmd === "system.get" ? POLL_MS + 10000 : 10000) {
      const full = { uuid: this.uuid, sequence: String(this.nextSequence++), ...request };
      const packet = await encodePacket(JSON.stringify(full));
      // A sequence value of our own, unique per request, so that pieces of
      // requests sent at the same time do not mix.
      const sequence = `${Date.now().toString(36)}${(sequenceCounter++).toString(36)}${Math.random().toString(36).slice(2, 8)}`;
      this.lastPieceAnswers = [];
      for (let at = 0; ; at += this.pieceLength) {
        const piece = packet.slice(at, at + this.pieceLength);
        const last = at + this.pieceLength >= packet.length;
        // Base64 characters go into the query unencoded ("+" and "/" are
        // taken as they are; "=" only appears at the very end).
        const url = `${this.base}?&data=${piece}&sequence=${sequence}${last ? "&isLast=true" : ""}`;
        const text = await loadImageText(url, timeoutMs);
        if (last) {
          let message = null;
          try { message = JSON.parse(text); } catch { /* "invalid", "timeout", ... */ }
          return { message, text, pieces: this.lastPieceAnswers.length + 1 };
        }
        if (text !== "continue") throw new Error(`piece refused: ${text}`);
        this.lastPieceAnswers.push(text);
      }
    }

    // "system.webconnect": the service hands out a uuid for this client.
    async connect() {
      const { message } = await this.request({ cmd: "system.webconnect" });
      if (!message || typeof message.uuid !== "string") throw new Error("no connect reply");
      this.uuid = message.uuid;
      return message;
    }
  }

  // The challenge as the service reads it out of the query: it compares the
  // text it finds there without percent-decoding it first, except that a
  // space, "#", "{", "}", "|", "\\", "^", quotation marks, "<", ">" and
  // characters beyond ASCII arrive decoded. So Base64 and the other
  // characters allowed in a query ("+", "/", "=", ...) go as they are, those
  // few percent-encoded; "&", "%", "'" and "`" and control characters
  // cannot be carried at all.
  function challengeInQuery(challenge) {
    return Array.from(String(challenge), (c) => {
      if (/[A-Za-z0-9\-._~!$()*,;:@/?+=\[\]]/.test(c)) return c;
      if (/[&%'`\x00-\x1f\x7f]/.test(c)) throw new Error(`the challenge cannot carry ${JSON.stringify(c)} in a query`);
      return encodeURIComponent(c);
    }).join("");
  }

  // The handshake over the image channel: a query without data. Resolves
  // with the text read from the image ("detect"); rejects when the service
  // does not answer.
  function detectOverImage(host, port, login, timeoutMs = 3000) {
    const query = `?&sessionID=${login.sessionID}&user=${encodeURIComponent(login.user)}` +
                  `&challenge=${challengeInQuery(login.challenge)}&iterations=${login.iterations}&random=${login.random}`;
    return loadImageText(`http://${host}:${port}/${query}`, timeoutMs).then((text) => {
      if (text !== "detect") throw new Error(`unexpected answer ${text}`);
      return text;
    });
  }

  // Walks the port range and returns the first port where the service
  // passes the handshake, over WebSocket when the browser can, else over the
  // image channel.
  async function findService({ host = "127.0.0.1", portStart = 33686, portEnd = 33696, login, pieceLength }) {
    for (let port = portStart; port < portEnd; ++port) {
      if (typeof WebSocket !== "undefined") {
        try {
          const { connection } = await detectOverWebSocket(host, port, login);
          return { port, transport: "websocket", connection };
        } catch { /* next */ }
      }
      try {
        await detectOverImage(host, port, login);
        const connection = new ImageConnection(host, port, pieceLength);
        await connection.connect();
        return { port, transport: "image", connection };
      } catch { /* next */ }
    }
    throw new Error("LocalService not found");
  }

  return {
    makeLoginId, makeLogin, findService,
    detectOverWebSocket, detectOverImage, ImageConnection, WebSocketConnection,
    encodePacket, loadImageText,
  };
})();
