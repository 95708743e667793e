#!/usr/bin/env bash
# The npm package as users get it: packed from the WebAssembly build, its
# tarball's contents checked, installed offline into a scratch folder, and
# tested there with Node's test runner; then the web page, assembled with the
# installed package, in Chromium.
#
#   js/test/run.sh [WASM_BUILD] [CODEPAGE_GUESS]
#     (defaults: build/wasm, build/release/codepage-guess)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build/wasm}" && pwd)
tool=$(cd "$(dirname "${2:-$root/build/release/codepage-guess}")" && pwd)/$(basename "${2:-codepage-guess}")
[ -x "$tool" ] || { echo "no $tool: cmake --workflow --preset release" >&2; exit 1; }

echo "-- npm pack"
rm -f "$build"/js/codepage-guess-*.tgz
tarball=$build/js/$(cd "$build/js/npm" && npm pack --silent --pack-destination "$build/js")
listed=$(tar -tzf "$tarball" | sort)
expected='package/LICENSE
package/README.md
package/core.d.ts
package/dist/codepage_guess.wasm
package/dist/codepage_guess_simd.wasm
package/index.d.cts
package/index.d.ts
package/loader.d.ts
package/package.json
package/src/browser.js
package/src/core.cjs
package/src/core.js
package/src/load.cjs
package/src/load.js
package/src/loader.js
package/src/node.cjs
package/src/node.js'
if [ "$listed" != "$expected" ]; then
  echo "the tarball holds:" >&2; echo "$listed" >&2; exit 1
fi
# Data files are not executable.
if tar -tvzf "$tarball" | grep -E '\.wasm$' | grep -v '^-rw-r--r--'; then
  echo "a module in the tarball has the wrong mode" >&2; exit 1
fi
echo "$tarball: $(wc -c <"$tarball") bytes, $(echo "$listed" | wc -l) files"

echo "-- installed offline into a scratch folder"
scratch=$build/js/installed
rm -rf "$scratch"
mkdir -p "$scratch"
cd "$scratch"
npm init -y >/dev/null
npm install --offline --no-audit --no-fund "$tarball" >/dev/null
cp "$here"/guess.test.js "$scratch"/guess.test.mjs
node --input-type=module -e "
  import { guess, simd } from 'codepage-guess';
  import { readFileSync } from 'node:fs';
  const verdict = guess(readFileSync('$root/examples/japanese_sjis.txt'));
  console.log('a program using the installed package: ' + verdict + (simd ? ' (SIMD)' : ''));
  if (verdict !== 932) process.exit(1);"

echo "-- require() from CommonJS, synchronously, the same as import"
cat >"$scratch"/common.cjs <<'JS'
const assert = require('node:assert/strict');
const { readFileSync } = require('node:fs');
const cg = require('codepage-guess');
const [sjis, utf8] = process.argv.slice(2).map((path) => readFileSync(path));
assert.equal(cg.guess(sjis), 932);
assert.equal(cg.guess(utf8), 65001);
assert.equal(cg.describe(sjis).kind, 'shift_jis');
assert.equal(typeof cg.GuessStream, 'function');
import('codepage-guess').then((esm) => {
  for (const bytes of [sjis, utf8, sjis.subarray(0, 5)]) {
    assert.deepEqual(cg.describe(bytes), esm.describe(bytes));
    assert.deepEqual(cg.explain(bytes), esm.explain(bytes));
  }
  console.log(`require('codepage-guess') in Node ${process.version}: ${cg.guess(sjis)}, as import gives`);
});
JS
node "$scratch"/common.cjs "$root/examples/japanese_sjis.txt" "$root/examples/japanese_utf8.txt"

echo "-- the types, as TypeScript checks a program's imports (ESM and CommonJS)"
[ -d "$root/js/node_modules/typescript" ] || (cd "$root/js" && npm ci --no-audit --no-fund >/dev/null)
types=$scratch/types
rm -rf "$types" && mkdir -p "$types"
cat >"$types"/tsconfig.json <<'JSON'
{ "compilerOptions": { "module": "nodenext", "moduleResolution": "nodenext", "target": "es2022",
  "strict": true, "noEmit": true, "types": [], "lib": ["es2022", "dom"] } }
JSON
echo '{ "type": "module" }' >"$types"/package.json
ln -s ../node_modules "$types"/node_modules
cat >"$types"/right.ts <<'TS'
import { describe, guess, guessStream, type Description } from 'codepage-guess';
import { api, INPUT_LIMIT } from 'codepage-guess/core';
import { load } from 'codepage-guess/loader';
const verdict: 0 | 932 | 65001 = guess(new Uint8Array(4));
const kind: Description['kind'] = describe(new ArrayBuffer(4)).kind;
const later: Promise<number> = guessStream([new Uint8Array(1)]);
export { api, INPUT_LIMIT, load, verdict, kind, later };
TS
cat >"$types"/common.cts <<'TS'
import cg = require('codepage-guess');
export const verdict: number = cg.guess(new Uint8Array(4));
TS
tsc=$root/js/node_modules/.bin/tsc
(cd "$types" && "$tsc" -p . ) || { echo "the types refuse a right program" >&2; exit 1; }
for wrong in "import { guess } from 'codepage-guess/core';" "import { api } from 'codepage-guess';" \
             "import { guess } from 'codepage-guess'; guess('text');"; do
  echo "$wrong export {};" >"$types"/wrong.ts
  if (cd "$types" && "$tsc" -p . >/dev/null); then echo "the types let this through: $wrong" >&2; exit 1; fi
  rm "$types"/wrong.ts
done
echo "the types take a right program and refuse three wrong ones"

echo "-- Node's test runner"
CODEPAGE_GUESS=$tool CODEPAGE_GUESS_SOURCE=$root node --expose-gc --test "$scratch"/guess.test.mjs

echo "-- the web page in Chromium"
web=$build/web
rm -rf "$web"
mkdir -p "$web/lib/codepage-guess"
cp "$root"/web/* "$web"/
cp -r "$scratch"/node_modules/codepage-guess/{src,dist} "$web/lib/codepage-guess/"
cd "$root/js"
[ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund >/dev/null
WEB_DIR=$web CODEPAGE_GUESS=$tool CODEPAGE_GUESS_SOURCE=$root SCREENSHOT=$build/web-page.png \
  node --test test/web.test.js
echo "screenshot: $build/web-page.png"

echo "-- bundles made with Vite, webpack and esbuild, in Chromium"
bundles=$build/js/bundles
rm -rf "$bundles" && mkdir -p "$bundles"
(cd "$bundles" && npm init -y >/dev/null && npm install --offline --no-audit --no-fund "$tarball" >/dev/null)
APP_DIR=$bundles TOOLS_DIR=$root/js/node_modules/.bin node --test test/bundlers.test.js
