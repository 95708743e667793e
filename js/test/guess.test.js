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

import { createReadStream } from 'node:fs';
import { Readable } from 'node:stream';
import vm from 'node:vm';

import { codec, describe as describeBytes, explain, guess, guessStream, GuessStream, INPUT_LIMIT, simd }
  from 'codepage-guess';
import { api } from 'codepage-guess/core';
import * as core from 'codepage-guess/core';

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

// What codepage-scan says the bytes are, as JSON.
function scanSays(bytes) {
  const file = join(work, `scan${written++}`);
  writeFileSync(file, bytes);
  const scan = join(dirname(tool), 'codepage-scan');
  const run = spawnSync(scan, ['--json', '--no-ignore', file]);
  return JSON.parse(run.stdout.toString());
}

describe('describe', () => {
  test('says what codepage-scan says, with its names', () => {
    const inputs = {
      sjis, utf8, ascii: Buffer.from('plain ASCII\n'), empty: Buffer.alloc(0),
      eucjp: readFileSync(join(source, 'tests', 'samples', 'japanese_eucjp.txt')),
      iso2022jp: readFileSync(join(source, 'tests', 'samples', 'japanese_iso2022jp.txt')),
      latin1: readFileSync(join(source, 'tests', 'samples', 'latin1.txt')),
      utf16: Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from(japanese.toString(), 'utf16le')]),
      mixed: Buffer.concat([sjis, Buffer.from('\n// 更新しました\n'), sjis]),
      binary: Buffer.from(Uint8Array.from({ length: 3000 }, (_, k) => (k * 7919) & 0xff)),
      bom: Buffer.concat([Buffer.from([0xef, 0xbb, 0xbf]), utf8]),
      long: longer(sjis, INPUT_LIMIT + 100),
    };
    for (const [name, bytes] of Object.entries(inputs)) {
      const theirs = scanSays(bytes);
      const ours = describeBytes(bytes);
      for (const field of ['kind', 'bom', 'ambiguous', 'code_page', 'rule', 'utf8_line', 'sjis_line']) {
        assert.deepEqual(ours[field], theirs[field], `${name}: ${field}`);
      }
      assert.equal(describeBytes(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length)).kind,
                   ours.kind, `${name} as an ArrayBuffer`);
    }
  });
});

describe('streams stop at the limit', () => {
  test('an endless Node stream settles with the verdict of its first MiB, and is destroyed', async () => {
    const endless = createReadStream('/dev/zero');
    assert.equal(await guessStream(endless), guess(new Uint8Array(INPUT_LIMIT)));
    assert.ok(endless.destroyed, 'the stream was left open');
    assert.ok(endless.bytesRead < 4 * INPUT_LIMIT, `read ${endless.bytesRead} bytes`);
  });

  test('an endless ReadableStream is cancelled, an endless generator returned', async () => {
    let cancelled = false;
    const readable = new ReadableStream({
      pull(controller) { controller.enqueue(sjis.subarray(0, 400)); },
      cancel() { cancelled = true; },
    });
    assert.equal(await guessStream(readable), 932);
    assert.ok(cancelled, 'the ReadableStream was not cancelled');
    let returned = false;
    async function* endless() {
      try {
        for (;;) yield utf8;
      } finally {
        returned = true;
      }
    }
    assert.equal(await guessStream(endless()), 65001);
    assert.ok(returned, 'the generator was not closed');
    function* syncEndless() {
      for (;;) yield utf8;
    }
    assert.equal(await guessStream(syncEndless()), 65001);
  });

  test('a source of tiny pieces does not starve the event loop', async () => {
    let ticks = 0;
    const timer = setInterval(() => { ticks += 1; }, 1);
    async function* tinyPieces() {
      for (;;) yield sjis.subarray(0, 16);
    }
    const started = Date.now();
    await guessStream(tinyPieces());
    clearInterval(timer);
    const seconds = (Date.now() - started) / 1000;
    assert.ok(ticks > 0, `no timer ran in ${seconds} s of pulling`);
  });

  test('strings are refused: their encoding is already gone', async () => {
    const file = join(work, 'latin1-stream.txt');
    writeFileSync(file, Buffer.from('caf\xe9 cr\xe8me\n', 'latin1'));
    await assert.rejects(guessStream(createReadStream(file, 'latin1')), TypeError);
    await assert.rejects(guessStream(Readable.from(['text'])), TypeError);
    assert.equal(await guessStream(createReadStream(file)), commandSays(readFileSync(file)));
  });
});

describe('other realms', () => {
  test('a Uint8Array or ArrayBuffer of another realm is bytes like any other', () => {
    const context = vm.createContext({});
    const view = vm.runInContext('new Uint8Array([0x82, 0xa0, 0x82, 0xa2])', context);
    const buffer = vm.runInContext('new Uint8Array([0xe3, 0x81, 0x82]).buffer', context);
    assert.equal(view instanceof Uint8Array, false, 'the test needs another realm');
    assert.equal(guess(view), guess(Uint8Array.from(view)));
    assert.equal(guess(buffer), 65001);
    assert.equal(describeBytes(view).kind, describeBytes(Uint8Array.from(view)).kind);
    assert.throws(() => guess(vm.runInContext('new Uint16Array(2)', context)), TypeError);
  });
});

describe('entry points', () => {
  test('codepage-guess/core gives the API over an instance, and nothing else', () => {
    assert.deepEqual(Object.keys(core).sort(), ['INPUT_LIMIT', 'api']);
    assert.equal(typeof plain.describe, 'function');
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
      for (const call of [guess, codec, explain, describeBytes, (v) => new GuessStream().feed(v)]) {
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
