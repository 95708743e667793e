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
package/dist/codepage_guess.wasm
package/dist/codepage_guess_simd.wasm
package/index.d.ts
package/package.json
package/src/browser.js
package/src/core.js
package/src/load.js
package/src/node.js'
if [ "$listed" != "$expected" ]; then
  echo "the tarball holds:" >&2; echo "$listed" >&2; exit 1
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
