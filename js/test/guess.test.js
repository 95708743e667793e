// The npm package, installed from its tarball, against the codepage-guess
// command: the same verdict on every input, streamed however it is split, no
// wrong answer for a wrong argument, no memory kept across calls.
//
// CODEPAGE_GUESS: the command; CODEPAGE_GUESS_SOURCE: the source tree.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { after, describe, test } from 'node:test';

import { codec, explain, guess, guessStream, GuessStream, INPUT_LIMIT, simd } from 'codepage-guess';
import { api } from 'codepage-guess/core';

const tool = process.env.CODEPAGE_GUESS;
const source = process.env.CODEPAGE_GUESS_SOURCE;
assert.ok(tool && source, 'set CODEPAGE_GUESS and CODEPAGE_GUESS_SOURCE');

const work = mkdtempSync(join(tmpdir(), 'codepage-guess-js-'));
after(() => rmSync(work, { recursive: true, force: true }));

// The command's verdict on these bytes: 65001, 932, 0, or null for no bytes.
let written = 0;
function commandSays(bytes) {
  const file = join(work, `input${written++}`);
  writeFileSync(file, bytes);
  const run = spawnSync(tool, [file]);
  if (run.status !== 0) return null;
  const said = run.stdout.toString().trim();
  return said === '' ? 0 : Number(said.replace('code.page=', ''));
}

// The plain module, beside the SIMD one the package picked here.
const packageDir = dirname(createRequire(import.meta.url).resolve('codepage-guess/package.json'));
const plainModule = await WebAssembly.instantiate(
    readFileSync(join(packageDir, 'dist', 'codepage_guess.wasm')), {});
const plain = api(plainModule.instance.exports);

// A generator of the same inputs on every run.
function random(seed) {
  let state = seed >>> 0;
  return () => {
    state = (state + 0x6d2b79f5) >>> 0;
    let t = state;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

const examples = join(source, 'examples');
const sjis = readFileSync(join(examples, 'japanese_sjis.txt'));
const utf8 = readFileSync(join(examples, 'japanese_utf8.txt'));
const japanese = readFileSync(join(source, 'tests', 'trees', 'japanese.txt'));

function generatedInputs() {
  const next = random(17);
  const pick = (n) => Math.floor(next() * n);
  const inputs = [];
  for (const text of [sjis, utf8, japanese]) {
    for (let k = 0; k < 500; ++k) {
      const from = pick(text.length), to = from + pick(Math.min(200, text.length - from) + 1);
      inputs.push(text.subarray(from, to));  // fragments cut anywhere
    }
    for (let k = 0; k < 200; ++k) {  // damaged: a few bytes replaced
      const bytes = Uint8Array.from(text);
      for (let d = pick(4); d >= 0; --d) bytes[pick(bytes.length)] = pick(256);
      inputs.push(bytes);
    }
  }
  for (let k = 0; k < 700; ++k) inputs.push(Uint8Array.from({ length: pick(300) }, () => pick(256)));
  for (let k = 0; k < 300; ++k) {  // bytes where the rules turn
    const turns = [0x80, 0xa0, 0xc0, 0xc1, 0xe0, 0xe3, 0xef, 0xf0, 0xf8, 0xfc, 0xfd, 0xfe, 0xff, 0x81, 0x82, 0x41, 0x0a];
    inputs.push(Uint8Array.from({ length: pick(40) }, () => turns[pick(turns.length)]));
  }
  return inputs;
}

function longer(text, size) {
  const bytes = new Uint8Array(size);
  for (let at = 0; at < size; at += text.length) bytes.set(text.subarray(0, Math.min(text.length, size - at)), at);
  return bytes;
}

describe('the verdict is the command line\'s', () => {
  test('on the examples and the fuzz corpus', () => {
    let compared = 0;
    for (const folder of [examples, join(source, 'fuzz', 'corpus')]) {
      for (const name of readdirSync(folder)) {
        if (folder === examples && !name.endsWith('.txt')) continue;
        const bytes = readFileSync(join(folder, name));
        const expected = commandSays(bytes) ?? 0;  // no bytes: undecided here
        assert.equal(guess(bytes), expected, name);
        assert.equal(plain.guess(bytes), expected, `${name}, plain module`);
        assert.equal(explain(bytes).codePage, expected, `${name}, explained`);
        ++compared;
      }
    }
    assert.ok(compared >= 9);
  });

  test('on a few thousand generated inputs', () => {
    const inputs = generatedInputs();
    assert.ok(inputs.length > 3000);
    for (const [k, bytes] of inputs.entries()) {
      const expected = commandSays(bytes) ?? 0;
      assert.equal(guess(bytes), expected, `input ${k}`);
      assert.equal(plain.guess(bytes), expected, `input ${k}, plain module`);
    }
  });

  test('on inputs longer than 1 MiB: only the first INPUT_LIMIT bytes count', () => {
    const ascii = longer(Buffer.from('plain text\n'), INPUT_LIMIT);
    const tail = new Uint8Array(INPUT_LIMIT + sjis.length);
    tail.set(ascii);
    tail.set(sjis, INPUT_LIMIT);
    assert.equal(commandSays(tail), 0);
    assert.equal(guess(tail), 0);
    assert.equal(guess(tail.subarray(100)), 932);
    for (const text of [sjis, utf8]) {
      const bytes = longer(text, 3 << 20);
      assert.equal(guess(bytes), commandSays(bytes));
      assert.equal(explain(bytes).examined, INPUT_LIMIT);
    }
  });

  test('through every kind of argument', () => {
    const buffer = sjis.buffer.slice(sjis.byteOffset, sjis.byteOffset + sjis.length);
    assert.equal(guess(Buffer.from(sjis)), 932);
    assert.equal(guess(new Uint8Array(buffer)), 932);
    assert.equal(guess(buffer), 932);
    assert.equal(codec(sjis), 'shift_jis');
    assert.equal(codec(utf8), 'utf-8');
    assert.equal(codec(Buffer.from('ascii')), null);
    assert.equal(new TextDecoder(codec(sjis)).decode(sjis), utf8.toString());
    assert.equal(typeof simd, 'boolean');
  });
});

describe('explain', () => {
  test('reports both readings and the rule', () => {
    const cases = [
      ['e3 81 82', 65001, 'best_score', [0, 0.866], [0, 0.165]],
      ['82 a0', 932, 'only_error_free', [2, 0], [0, 0.6697]],
      ['63 61 66 c3 a9', 932, 'best_score', [0, 0.01], [0, 0.0292]],
      ['48 65 6c 6c 6f', 0, 'undecided', [0, 0], [0, 0]],
    ];
    for (const [hex, codePage, rule, u, s] of cases) {
      const e = explain(Buffer.from(hex.replaceAll(' ', ''), 'hex'));
      assert.equal(e.codePage, codePage, hex);
      assert.equal(e.rule, rule, hex);
      assert.deepEqual(e.readings.map((r) => r.codePage), [65001, 932]);
      assert.equal(e.readings[0].errors, u[0], hex);
      assert.equal(e.readings[1].errors, s[0], hex);
      assert.ok(Math.abs(e.readings[0].score - u[1]) < 0.0005, hex);
      assert.ok(Math.abs(e.readings[1].score - s[1]) < 0.0005, hex);
    }
  });
});

describe('streams', () => {
  test('every split of short inputs gives the one-shot verdict', () => {
    const next = random(5);
    const inputs = [Buffer.from('e38182 82a0 ff 41 c3a9 e381'.replaceAll(' ', ''), 'hex'),
      Buffer.from('82a0 82a0 e38182 e38182 0a'.replaceAll(' ', ''), 'hex')];
    for (let k = 0; k < 6; ++k) inputs.push(Uint8Array.from({ length: 11 }, () => Math.floor(next() * 256)));
    for (const bytes of inputs) {
      const whole = guess(bytes);
      for (let places = 0; places < 1 << (bytes.length - 1); ++places) {
        const stream = new GuessStream();
        let from = 0;
        for (let at = 1; at < bytes.length; ++at) {
          if ((places >> (at - 1)) & 1) {
            stream.feed(bytes.subarray(from, at));
            from = at;
          }
        }
        stream.feed(bytes.subarray(from));
        assert.equal(stream.guess(), whole, `split ${places}`);
      }
    }
  });

  test('long inputs in random pieces, past the limit, and async sources', async () => {
    const next = random(9);
    const bytes = longer(sjis, INPUT_LIMIT + 5000);
    bytes[INPUT_LIMIT + 10] = 0xff;  // past the limit: must not count
    for (let round = 0; round < 10; ++round) {
      const stream = new GuessStream();
      for (let at = 0; at < bytes.length;) {
        const size = Math.floor(next() * 200000);
        stream.feed(bytes.subarray(at, at + size));
        at += size;
      }
      assert.equal(stream.guess(), 932);
      assert.equal(stream.codec(), 'shift_jis');
    }
    async function* pieces() {
      yield sjis.subarray(0, 3);
      yield sjis.subarray(3);
    }
    assert.equal(await guessStream(pieces()), 932);
    assert.equal(await guessStream(new Blob([utf8]).stream()), 65001);
  });
});

describe('wrong arguments', () => {
  test('throw a TypeError, never give an answer', () => {
    const detached = new ArrayBuffer(16);
    structuredClone(detached, { transfer: [detached] });
    const view = new Uint8Array(new ArrayBuffer(16));
    structuredClone(view.buffer, { transfer: [view.buffer] });
    const wrong = {
      undefined, null: null, string: 'text', number: 42, object: {}, array: [0x82, 0xa0],
      Int8Array: new Int8Array(4), Uint16Array: new Uint16Array(4),
      DataView: new DataView(new ArrayBuffer(4)), 'detached ArrayBuffer': detached,
      'Uint8Array over a detached buffer': view,
    };
    for (const [what, value] of Object.entries(wrong)) {
      for (const call of [guess, codec, explain, (v) => new GuessStream().feed(v)]) {
        assert.throws(() => call(value), TypeError, `${call.name || 'feed'}(${what})`);
      }
    }
  });
});

describe('memory', () => {
  test('a million calls keep none', () => {
    global.gc?.();
    const bytes = sjis.subarray(0, 64);
    const memory = plainModule.instance.exports.memory;
    const before = { heap: process.memoryUsage().heapUsed, wasm: memory.buffer.byteLength };
    for (let k = 0; k < 1000000; ++k) plain.guess(bytes);
    for (let k = 0; k < 20000; ++k) plain.explain(bytes);
    for (let k = 0; k < 1000000; ++k) guess(bytes);
    global.gc?.();
    assert.equal(memory.buffer.byteLength, before.wasm, 'the module\'s memory grew');
    const grown = process.memoryUsage().heapUsed - before.heap;
    assert.ok(grown < 8 << 20, `the heap grew by ${grown} bytes`);
  });
});
