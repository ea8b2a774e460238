// Makes REFERENCE.md, the page authors' reference of every command and
// event, from the tables in the sources: the video, window and audio
// command tables with the request and result keys documented beside them
// (the video library's function table for the video commands, its error
// codes from videolib/api/VcError.h), the video
// event routes with their data table, the client's own events and the
// methods of localservice.js that send each command.
//
//   node tools/web/make-reference.mjs           writes tools/web/REFERENCE.md
//   node tools/web/make-reference.mjs --check   exits 1 when REFERENCE.md is not what the tables make
//
// It also fails when a table row has no documentation row (or the other
// way round), and when the client's list of window-bound video commands
// differs from the video command table. It writes the client's list of
// every command (SERVICE_COMMANDS in localservice.js) and of every window
// event (SERVICE_EVENTS) from the same tables; --check fails when those
// lists are not what they make.
import { readFileSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const root = join(here, "..", "..");
const read = (path) => readFileSync(join(root, path), "utf8");
const problems = [];

// Rows of a Markdown table written in // comments, by their first cell.
function commentTable(text, header) {
  const rows = new Map();
  const lines = text.split("\n");
  let at = lines.findIndex((line) => line.trim().startsWith(`// | ${header} |`));
  if (at < 0) throw new Error(`no comment table "| ${header} |"`);
  for (at += 2; at < lines.length && lines[at].trim().startsWith("// |"); ++at) {
    const cells = lines[at].trim().slice(3).split(" | ").map((cell) => cell.replace(/^\| ?| ?\|$/g, "").trim());
    rows.set(cells[0], cells.slice(1));
  }
  return rows;
}

// The rows of a C++ table: the first quoted name of each line between the
// line that opens it and the next "};".
function cppRows(text, opening) {
  const start = text.indexOf(opening);
  if (start < 0) throw new Error(`no table "${opening}"`);
  const body = text.slice(start, text.indexOf("};", start));
  return [...body.matchAll(/^\s+\{"?([\w.]+)"?, ([^\n]*)\},?$/gm)].map((match) => ({ name: match[1], rest: match[2] }));
}

// Every command of the service tables, "module.command".
const known = [];
// Every event name of the video event routes and the widget, in table order.
const events = [];

const cell = (text) => (text === undefined || text === "-" ? "" : text.replace(/\|/g, "\\|"));

// The methods of localservice.js that send a command: "owner.method(args)"
// by command, from the calls in each method's body.
const INTERNAL = new Set(["constructor", "command", "remembered", "create", "remake", "apply", "sync", "destroyNow", "onServiceEvent"]);

function clientMethods(source) {
  const methods = new Map();
  let owner = "", method = "";
  for (const line of source.split("\n")) {
    const cls = line.match(/^(?:export )?class (\w+)/);
    if (cls) {
      owner = { VideoControls: "wall.video", AudioControls: "service.audio", WindowHandle: "wall" }[cls[1]] ?? "";
      method = "";
    }
    const header = line.match(/^ {2}(?:async )?(\w+)\(([^)]*)\) \{/);
    if (header) {
      const args = header[2].replace(/\{[^}]*\}( = \{\})?/g, "params").replace(/ = [^,]+/g, "");
      method = owner && !INTERNAL.has(header[1]) ? `${owner}.${header[1]}(${args})` : "";
    }
    if (!method) continue;
    for (const sent of line.matchAll(/(?:command|remembered)\("(\w+)"|request\("(\w+\.\w+)"/g)) {
      const cmd = sent[1] ? `video.${sent[1]}` : sent[2];
      const list = methods.get(cmd) ?? [];
      if (!list.includes(method)) methods.set(cmd, [...list, method]);
    }
  }
  return methods;
}

function videoSection(client) {
  const table = read("video/VideoCommand.cpp");
  const library = commentTable(read("videolib/api/video_control.h"), "function");
  const components = commentTable(read("video/WebClientComponents.h"), "component");
  const out = [];
  const bound = [];
  const rows = cppRows(table, "const VideoCommand kCommands[]");
  known.push(...rows.map((row) => `video.${row.name}`));
  for (const { name, rest } of rows) {
    const call = rest.match(/^(\w+)\((?:&WebClientComponents::)?(\w*)\)/);
    const flags = rest.slice(rest.lastIndexOf(",") + 1).trim();
    if (!call) { problems.push(`video.${name}: row not understood`); continue; }
    if (flags.includes("kWindowBound")) bound.push(name);
    let request = "", result = "", what = "";
    if (call[1] === "nothing") {
      what = "accepted and ignored";
      result = "null (the empty answer)";
    } else if (call[1] === "component") {
      const doc = components.get(call[2]);
      if (!doc) { problems.push(`video.${name}: no row for ${call[2]} in video/WebClientComponents.h`); continue; }
      [what, request, result] = doc;
    } else {
      const doc = library.get(call[2]);
      if (!doc) { problems.push(`video.${name}: no row for ${call[2]} in videolib/api/video_control.h`); continue; }
      [what, request, result] = doc;
    }
    const window = flags.includes("kWindowBound") ? "yes" : "";
    out.push(`| video.${name} | ${cell(what)} | ${cell(request)} | ${cell(result)} | ${window} | ${cell((client.get(`video.${name}`) ?? []).join(", "))} |`);
  }
  return { rows: out, bound };
}

function moduleSection(path, opening, module, client) {
  const source = read(path);
  const docs = commentTable(source, "command");
  const out = [];
  const names = cppRows(source, opening).map((row) => row.name);
  known.push(...names.map((name) => `${module}.${name}`));
  for (const name of names) {
    const doc = docs.get(name);
    if (!doc) { problems.push(`${module}.${name}: no documentation row in ${path}`); continue; }
    out.push(`| ${module}.${name} | ${cell(doc[0])} | ${cell(doc[1])} | ${cell((client.get(`${module}.${name}`) ?? []).join(", "))} |`);
  }
  for (const name of docs.keys()) if (!names.includes(name)) problems.push(`${module}.${name}: documented in ${path} but not in its table`);
  return out;
}

function eventSection() {
  const source = read("video/VideoEvents.cpp");
  const docs = commentTable(source, "type");
  const types = Object.fromEntries([...read("videolib/api/video_control.h").matchAll(/(VC_EVENT_\w+) = (\d+)/g)].map((m) => [m[1], m[2]]));
  const byName = new Map();
  const start = source.indexOf("const EventRoute kRoutes[]");
  const routes = source.slice(start, source.indexOf("};", start));
  for (const route of routes.matchAll(/\{(VC_EVENT_\w+), "([\w.]+)", (nullptr|"\w+"), (nullptr|"\w+"),/g)) {
    const [, type, name, nest, typeText] = route;
    const doc = docs.get(types[type]);
    if (!doc) { problems.push(`event type ${types[type]} (${name}): no row in video/VideoEvents.cpp`); continue; }
    let detail = nest === "nullptr" ? doc[0] : `"${nest.slice(1, -1)}": { ${doc[0]} }`;
    if (typeText !== "nullptr") detail += `; "type" ${typeText}`;
    const entry = byName.get(name) ?? { types: [], details: [], raisedBy: [] };
    entry.types.push(types[type]);
    entry.details.push(`(type ${types[type]}) ${detail}`);
    if (doc[1] && doc[1] !== "-") entry.raisedBy.push(doc[1]);
    byName.set(name, entry);
  }
  for (const file of ["video/VideoWidget.cpp", "video/VideoEvents.cpp"]) {
    for (const named of read(file).matchAll(/eventText\(QStringLiteral\("([\w.]+)"\)/g)) {
      const doc = docs.get(named[1]);
      if (!doc) { problems.push(`event ${named[1]} (${file}): no row in video/VideoEvents.cpp`); continue; }
      byName.set(named[1], { types: [], details: [doc[0]], raisedBy: doc[1] && doc[1] !== "-" ? [doc[1]] : [] });
    }
  }
  events.push(...byName.keys());
  return [...byName].map(([name, entry]) => `| ${name} | ${cell(entry.details.join("; "))} | ${cell([...new Set(entry.raisedBy)].join("; "))} |`);
}

function clientEvents(source) {
  const docs = commentTable(source, "event");
  return [...docs].map(([name, [on, detail]]) => `| ${name} | ${on} | ${cell(detail)} |`);
}

const client = read("tools/web/localservice.js");
const methods = clientMethods(client);
const video = videoSection(methods);
const text = `# LocalService page reference

Made by \`tools/web/make-reference.mjs\` from the command and event tables of
the sources: do not edit by hand (CTest's \`web_reference\` fails when this file
is not what they make). How to connect, attach a window and handle errors:
the README's "For page authors".

Every request is sent as \`service.request(cmd, params)\` (or
\`wall.video.command(name, params)\` for "video.<name>" on a window); the
columns name the keys of \`params\` and of the answer besides the envelope
("sequence", "uuid", "errorModule", "errorCode"). A failure rejects with a
\`LocalServiceError\` (kinds: README); a name in none of the tables below
rejects at once with "no-answer" and sends nothing (the service would drop
it unanswered). "wndIndex" names a play window
(numbered row by row from 0); without it the selected one is meant.

## Video commands

Window: "yes" when the command needs the window of \`attach()\` (on a
connection without one it rejects with "no-window"). Video answers carry
"errorModule" "video_control" and an "errorMessage" on failure, with these
codes (also in the stream's "error" events):

| errorCode | meaning |
|---|---|
${[...read("videolib/api/VcError.h").matchAll(/X\((\w+), (\d+), "([^"]*)"\)/g)].filter((m) => m[2] !== "0").map((m) => `| ${m[2]} | ${cell(m[3])} |`).join("\n")}

| command | what it does | request keys | result keys | window | page method |
|---|---|---|---|---|---|
${video.rows.join("\n")}

## Window commands

Each connection has at most one window; \`attach()\` sends these itself.

| command | request keys | result keys | page method |
|---|---|---|---|
${moduleSection("window/WindowMessageDispatch.cpp", "const WindowCommand kCommands[]", "window", methods).join("\n")}

## Audio commands

| command | request keys | result keys | page method |
|---|---|---|---|
${moduleSection("audio/AudioMessageDispatch.cpp", "} kCommands[] = {", "audio", methods).join("\n")}

## Events of the service

Dispatched on the connection and on the window (\`wall.addEventListener(name,
(e) => e.detail)\`); \`detail\` is the event object: "cmd" (the name), "uuid",
"errorCode" 0, "errorModule" "", and the keys below (merged, or nested under
the key named).

| event | detail | raised by |
|---|---|---|
${eventSection().join("\n")}

## Events of the page client

| event | on | detail |
|---|---|---|
${clientEvents(client).join("\n")}
`;

const clientBound = client.match(/const WINDOW_VIDEO_COMMANDS = new Set\(`([^`]*)`/);
if (!clientBound) {
  problems.push("localservice.js: no WINDOW_VIDEO_COMMANDS");
} else if (clientBound[1].split(/\s+/).sort().join(" ") !== [...video.bound].sort().join(" ")) {
  problems.push("localservice.js: WINDOW_VIDEO_COMMANDS differs from the window-bound rows of video/VideoCommand.cpp");
}

// The client's SERVICE_COMMANDS and SERVICE_EVENTS: the names of the
// tables, wrapped.
function writeList(source, variable, names) {
  const listed = new RegExp(`(const ${variable} = new Set\\(\`)([^\`]*)(\`)`);
  if (!listed.test(source)) problems.push(`localservice.js: no ${variable}`);
  const lines = [""];
  for (const name of names) {
    if (lines[lines.length - 1].length + name.length + 1 > 110) lines.push("");
    lines[lines.length - 1] += (lines[lines.length - 1] ? " " : "") + name;
  }
  return source.replace(listed, (all, open, body, close) => `${open}\n${lines.join("\n")}\n${close}`);
}
const clientMade = writeList(writeList(client, "SERVICE_COMMANDS", known), "SERVICE_EVENTS", events);

const target = join(here, "REFERENCE.md");
const clientPath = join(here, "localservice.js");
if (problems.length) {
  console.error(problems.join("\n"));
  process.exit(1);
}
if (process.argv.includes("--check")) {
  let current = "";
  try { current = readFileSync(target, "utf8"); } catch { /* missing */ }
  if (current !== text || client !== clientMade) {
    console.error(`tools/web/${current !== text ? "REFERENCE.md" : "localservice.js (SERVICE_COMMANDS, SERVICE_EVENTS)"} is not what the tables make: run node tools/web/make-reference.mjs`);
    process.exit(1);
  }
  console.log("REFERENCE.md, SERVICE_COMMANDS and SERVICE_EVENTS match the tables");
} else {
  writeFileSync(target, text);
  if (client !== clientMade) writeFileSync(clientPath, clientMade);
}
