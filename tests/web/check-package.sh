#!/bin/sh
# The page client as authors get it: tsc --noEmit over the typed pages in
# tests/web/types against tools/web/localservice.d.ts (with the TypeScript
# that tools/web/package-lock.json pins, installed with npm ci into the work
# folder when missing or when the lock file changed), and the package that
# npm packs from tools/web installed into a fresh project, where the module,
# its plain-script form and the types are found by the package's name.
# The package's version is the service's (LOCALSERVICE_VERSION, from CMake).
#   check-package.sh <source folder> <work folder>
set -eu
source=$1
work=$2
version=$(node -p 'require(process.argv[1]).version' "$source/tools/web/package.json")
if [ "$version" != "${LOCALSERVICE_VERSION:?}" ]; then
  echo "tools/web/package.json has version $version, the service $LOCALSERVICE_VERSION" >&2
  exit 1
fi
mkdir -p "$work"
if ! cmp -s "$source/tools/web/package-lock.json" "$work/package-lock.json" || [ ! -f "$work/node_modules/typescript/bin/tsc" ]; then
  cp "$source/tools/web/package.json" "$source/tools/web/package-lock.json" "$work/"
  (cd "$work" && npm ci --ignore-scripts --no-audit --no-fund)
fi
tsc="$work/node_modules/typescript/bin/tsc"
node "$tsc" --noEmit -p "$source/tests/web/types/tsconfig.json"

rm -rf "$work/pack" "$work/app"
mkdir -p "$work/pack" "$work/app/node_modules"
copy="$work/pack/web"
cp -r "$source/tools/web" "$copy"
rm -rf "$copy/node_modules" "$copy/localservice.global.js"
(cd "$work/pack" && npm pack ./web --silent >/dev/null)
tar -xzf "$work"/pack/*.tgz -C "$work/app/node_modules"
mv "$work/app/node_modules/package" "$work/app/node_modules/localservice-page-client"
cd "$work/app"
printf '{ "name": "page", "private": true, "type": "module" }\n' > package.json
node --input-type=module -e '
  import * as LocalService from "localservice-page-client";
  import { readFileSync } from "node:fs";
  import { createRequire } from "node:module";
  const resolve = createRequire(process.cwd() + "/").resolve;
  const names = Object.keys(LocalService).sort().join(" ");
  if (names !== "Connection LocalServiceError WindowHandle connect makeLogin") throw new Error("exports: " + names);
  new Function(readFileSync(resolve("localservice-page-client/localservice.global.js"), "utf8"))();
  if (typeof globalThis.LocalService.connect !== "function") throw new Error("no global LocalService");'
printf '{ "compilerOptions": { "strict": true, "noEmit": true, "module": "ES2022", "moduleResolution": "bundler", "lib": ["ES2022", "DOM"], "types": [] }, "files": ["page.ts"] }\n' > tsconfig.json
printf 'import { connect } from "localservice-page-client";\nexport const kind = connect().then((c) => c.kind);\n' > page.ts
node "$tsc" --noEmit -p tsconfig.json
echo "types and package check"
