// Makes localservice.global.js, the plain-script form of localservice.js
// (with protect-credential.js, which it imports): one file for a
// <script src> that defines the global LocalService with the module's
// exports. Run by the build; by hand:
//
//   node tools/web/make-global-script.mjs out/localservice.global.js
//
// Each module becomes a function that returns its exports; "export" is taken
// off the declarations and an import of a sibling module becomes a
// destructuring of that module's exports. Other forms of import and export
// are refused, so the output never silently differs from the module.
import { readFileSync, writeFileSync, mkdirSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const MODULES = ["protect-credential.js", "pagevideo.js", "localservice.js"];  // imported ones first

function convert(name, source) {
  const exported = [];
  const body = source.split("\n").map((line, index) => {
    const declaration = line.match(/^export ((?:async )?function\*? |class |const |let )([A-Za-z_$][\w$]*)/);
    if (declaration) {
      exported.push(declaration[2]);
      return line.slice("export ".length);
    }
    const imported = line.match(/^import \{([^}]*)\} from "\.\/([\w.-]+)";$/);
    if (imported) {
      if (!MODULES.includes(imported[2])) throw new Error(`${name}:${index + 1}: imports unknown module ${imported[2]}`);
      return `  const {${imported[1]}} = modules[${JSON.stringify(imported[2])}];`;
    }
    if (/^\s*(import|export)\b/.test(line)) throw new Error(`${name}:${index + 1}: cannot convert: ${line}`);
    return line;
  });
  return `modules[${JSON.stringify(name)}] = (function () {\n"use strict";\n${body.join("\n")}\nreturn { ${exported.join(", ")} };\n})();\n`;
}

const output = process.argv[2];
if (!output) {
  console.error("usage: make-global-script.mjs <output file>");
  process.exit(2);
}
const parts = MODULES.map((name) => convert(name, readFileSync(join(here, name), "utf8")));
mkdirSync(dirname(output), { recursive: true });
writeFileSync(output, `// Made from ${MODULES.join(" and ")} by make-global-script.mjs: edit those, not this.\n` +
  `(function () {\nconst modules = {};\n${parts.join("\n")}\nglobalThis.LocalService = modules["localservice.js"];\n})();\n`);
