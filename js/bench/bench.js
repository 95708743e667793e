// The package against encoding-japanese (Encoding.detect) and jschardet (3.1.4,
// the version a well-known editor pins, and 4.1): time per call on Japanese
// UTF-8 and Shift_JIS of 4 KiB to 1 MiB, and how often each is right on short
// fragments of Japanese text in either encoding. Shift_JIS comes from iconv
// (as Windows writes it).
//
//   node bench/bench.js [PACKAGE]   (default: the package installed beside it, or ../build/wasm/js/npm)
import { spawnSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const root = resolve(here, '..', '..');
const require = createRequire(import.meta.url);
const Encoding = require('encoding-japanese');
const jschardet3 = require('jschardet');
const jschardet4 = require('jschardet-4');
const packageDir = resolve(process.argv[2] ?? join(root, 'build', 'wasm', 'js', 'npm'));
const { guess, simd } = await import(pathToFileURL(join(packageDir, 'src', 'node.js')).href);

const text = readFileSync(join(root, 'tests', 'trees', 'japanese.txt'), 'utf8') + '\n' +
             readFileSync(join(root, 'examples', 'japanese_utf8.txt'), 'utf8');
const toSJIS = (s) => spawnSync('iconv', ['-f', 'UTF-8', '-t', 'CP932'], { input: s }).stdout;

function sized(bytes, size) {
  const out = Buffer.alloc(size);
  for (let at = 0; at < size; at += bytes.length) bytes.copy(out, at, 0, Math.min(bytes.length, size - at));
  return out;
}

// Median time of one call, in milliseconds.
function time(call, bytes) {
  const rounds = bytes.length > 100000 ? 40 : 2000;
  for (let k = 0; k < Math.min(rounds, 50); ++k) call(bytes);  // warm up, let the JIT settle
  const times = [];
  for (let k = 0; k < 15; ++k) {
    const start = process.hrtime.bigint();
    for (let r = 0; r < rounds / 15 + 1; ++r) call(bytes);
    times.push(Number(process.hrtime.bigint() - start) / 1e6 / (rounds / 15 + 1));
  }
  return times.sort((a, b) => a - b)[7];
}

const peers = {
  'codepage-guess': (b) => guess(b),
  'encoding-japanese': (b) => Encoding.detect(b),
  'jschardet 3.1.4': (b) => jschardet3.detect(b),
  'jschardet 4.1': (b) => jschardet4.detect(b),
};

console.log(`codepage-guess ${simd ? 'SIMD' : 'plain'} module, Node ${process.version}\n`);
console.log(`| input | ${Object.keys(peers).join(' | ')} |`);
console.log(`|---|${Object.keys(peers).map(() => '---').join('|')}|`);
const utf8 = Buffer.from(text), sjis = toSJIS(text);
for (const [label, bytes] of [['UTF-8', utf8], ['Shift_JIS', sjis]]) {
  for (const [sizeLabel, size] of [['4 KiB', 4096], ['64 KiB', 65536], ['1 MiB', 1 << 20]]) {
    const input = sized(bytes, size);
    const times = Object.values(peers).map((call) => time(call, input));
    const cells = times.map((t, k) => k === 0 ? `${t.toFixed(4)} ms` : `${t.toFixed(3)} ms (${(t / times[0]).toFixed(0)}×)`);
    console.log(`| Japanese ${label}, ${sizeLabel} | ${cells.join(' | ')} |`);
  }
}

// Right answers on fragments of 2, 4 and 8 characters of Japanese text.
const NAMES = { sjis: ['shift_jis', 'cp932', 'windows-31j'], utf8: ['utf-8', 'utf8'] };
const chardet = (detect) => (b, enc) => NAMES[enc].includes((detect(b).encoding ?? '').toLowerCase());
const right = {
  'codepage-guess': (b, enc) => guess(b) === (enc === 'sjis' ? 932 : 65001),
  'encoding-japanese': (b, enc) => Encoding.detect(b) === (enc === 'sjis' ? 'SJIS' : 'UTF8'),
  'jschardet 3.1.4': chardet((b) => jschardet3.detect(b)),
  'jschardet 4.1': chardet((b) => jschardet4.detect(b)),
};
const characters = [...text].filter((c) => c.codePointAt(0) > 0x2000 && c !== '\u3000');
let seed = 3;
const next = () => (seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648;
console.log(`\n| fragments of Japanese text | ${Object.keys(right).join(' | ')} |`);
console.log(`|---|${Object.keys(right).map(() => '---').join('|')}|`);
for (const length of [2, 4, 8]) {
  const fragments = [];
  for (let k = 0; k < 300; ++k) {
    const at = Math.floor(next() * (characters.length - length));
    fragments.push(characters.slice(at, at + length).join(''));
  }
  const sjisFragments = toSJIS(fragments.join('\n')).toString('binary').split('\n').map((s) => Buffer.from(s, 'binary'));
  for (const [label, encoding, inputs] of [['Shift_JIS', 'sjis', sjisFragments],
    ['UTF-8', 'utf8', fragments.map((f) => Buffer.from(f))]]) {
    const scores = Object.values(right).map((ok) => inputs.filter((b) => ok(b, encoding)).length);
    console.log(`| ${length} characters in ${label} | ${scores.map((s) => `${s} of ${inputs.length}`).join(' | ')} |`);
  }
}
