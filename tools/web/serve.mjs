// Serves this folder (the demonstration page and the page client) on
// loopback, for pages that load the client as an ES module, which browsers
// do not do from file:// pages:
//
//   node serve.mjs [--port 8080]      then open http://127.0.0.1:8080/
//
// Only GET and HEAD of files inside the folder.
import { createReadStream, statSync } from "node:fs";
import { createServer } from "node:http";
import { dirname, extname, join, normalize, sep } from "node:path";
import { fileURLToPath } from "node:url";

const root = dirname(fileURLToPath(import.meta.url));
const portArgument = process.argv.indexOf("--port");
const port = portArgument > 0 ? Number(process.argv[portArgument + 1]) : 8080;
const TYPES = { ".html": "text/html; charset=utf-8", ".js": "text/javascript; charset=utf-8", ".mjs": "text/javascript; charset=utf-8",
                ".css": "text/css; charset=utf-8", ".png": "image/png", ".svg": "image/svg+xml" };

createServer((request, response) => {
  let file = "", size = -1;
  try {
    const path = normalize(decodeURIComponent(new URL(request.url, "http://x").pathname));
    file = join(root, path.endsWith("/") ? join(path, "index.html") : path);
    size = statSync(file).isFile() ? statSync(file).size : -1;
  } catch { /* no such file, or not a path */ }
  if (!["GET", "HEAD"].includes(request.method) || !file.startsWith(root + sep) || size < 0) {
    response.writeHead(request.method === "GET" || request.method === "HEAD" ? 404 : 405, { "Content-Type": "text/plain" });
    response.end("not found\n");
    return;
  }
  response.writeHead(200, { "Content-Type": TYPES[extname(file)] ?? "application/octet-stream", "Content-Length": size,
                            "Cache-Control": "no-cache" });
  if (request.method === "HEAD") response.end();
  else createReadStream(file).pipe(response);
}).listen(port, "127.0.0.1", () => console.log(`serving ${root} at http://127.0.0.1:${port}/`));
