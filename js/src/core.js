// The API over an instance of the WebAssembly module. The decision is the C
// library's, compiled to WebAssembly; this file only moves bytes in and
// results out.

/** Only this many bytes of any input are examined. */
export const INPUT_LIMIT = 1048576;

const RULES = ['undecided', 'only_error_free', 'best_score'];
// cpg_kind, in its order: the names codepage-scan's JSON gives.
const KINDS = ['empty', 'ascii', 'utf-8', 'utf-16le', 'utf-16be', 'utf-32le', 'utf-32be', 'shift_jis',
               'euc-jp', 'iso-2022-jp', 'mixed', 'binary', 'unknown'];

// A pause that lets the event loop run timers and I/O, taken once some time
// has passed since the last one: a loop of awaits alone runs only microtasks.
function pauser() {
  const now = () => globalThis.performance?.now?.() ?? Date.now();
  let last = now();
  const macrotask = typeof globalThis.setImmediate === 'function'
    ? () => new Promise((resolve) => globalThis.setImmediate(resolve))
    : () => new Promise((resolve) => globalThis.setTimeout(resolve, 0));
  return async () => {
    if (now() - last < 8) return;
    await macrotask();
    last = now();
  };
}
const CODECS = { 65001: 'utf-8', 932: 'shift_jis' };

const tagOf = (value) => Object.prototype.toString.call(value);

/**
 * The bytes of a Uint8Array (a Node Buffer is one) or an ArrayBuffer, from
 * this realm or another (a vm context, an iframe): known by their tag, not by
 * this realm's constructors.
 */
function bytesOf(input, name) {
  let view;
  if (ArrayBuffer.isView(input) && tagOf(input) === '[object Uint8Array]') {
    view = input;
  } else if (tagOf(input) === '[object ArrayBuffer]') {
    view = input;
  } else if (typeof input === 'string') {
    throw new TypeError(`${name}: expected bytes, got a string: its encoding is already gone ` +
                        '(read the file or open the stream without one)');
  } else {
    throw new TypeError(`${name}: expected a Uint8Array, Buffer or ArrayBuffer, got ${describeValue(input)}`);
  }
  const isBuffer = tagOf(view) === '[object ArrayBuffer]';
  const buffer = isBuffer ? view : view.buffer;
  // A detached buffer reads as empty: refuse it rather than answer for no bytes.
  if (isDetached(buffer)) throw new TypeError(`${name}: the buffer is detached`);
  return isBuffer ? new Uint8Array(view) : view;
}

function isDetached(buffer) {
  if (typeof buffer.detached === 'boolean') return buffer.detached;
  if (buffer.byteLength !== 0) return false;
  try {
    new Uint8Array(buffer, 0, 0);  // throws for a detached buffer
    return false;
  } catch {
    return true;
  }
}

function describeValue(value) {
  if (value === null) return 'null';
  if (typeof value !== 'object') return typeof value;
  return value.constructor?.name ?? 'an object';
}

export function api(exports) {
  const { memory } = exports;
  const inputAddress = exports.input();

  // Copies the examined bytes into the module; returns how many.
  function load(bytes) {
    const size = Math.min(bytes.length, INPUT_LIMIT);
    new Uint8Array(memory.buffer, inputAddress, size).set(size === bytes.length ? bytes : bytes.subarray(0, size));
    return size;
  }

  function guess(input) {
    return exports.guess(load(bytesOf(input, 'guess')));
  }

  function explain(input) {
    const address = exports.explain(load(bytesOf(input, 'explain')));
    if (address === 0) throw new RangeError('explain: out of memory');
    // The C structure cpg_explanation: size, code page, rule, bytes examined,
    // then per reading its code page, error count and score.
    const view = new DataView(memory.buffer, address, 48);
    const reading = (at) => ({
      codePage: view.getInt32(at, true),
      errors: view.getUint32(at + 4, true),
      score: view.getFloat64(at + 8, true),
    });
    return {
      codePage: view.getInt32(4, true),
      rule: RULES[view.getUint32(8, true)] ?? 'undecided',
      examined: view.getUint32(12, true),
      readings: [reading(16), reading(32)],
    };
  }

  function codec(input) {
    return CODECS[guess(input)] ?? null;
  }

  /**
   * For bytes that arrive in pieces: feed them in order, then ask. The answer
   * equals guess() on the pieces joined, however they were split; only the
   * first INPUT_LIMIT bytes are kept.
   */
  class GuessStream {
    #bytes = new Uint8Array(0);
    #size = 0;

    /** Bytes kept so far: at most INPUT_LIMIT. */
    get size() {
      return this.#size;
    }

    feed(piece) {
      const bytes = bytesOf(piece, 'feed');
      const taken = Math.min(bytes.length, INPUT_LIMIT - this.#size);
      if (taken <= 0) return this;
      if (this.#size + taken > this.#bytes.length) {
        const grown = new Uint8Array(Math.min(INPUT_LIMIT, Math.max(4096, 2 * (this.#size + taken))));
        grown.set(this.#bytes.subarray(0, this.#size));
        this.#bytes = grown;
      }
      this.#bytes.set(bytes.subarray(0, taken), this.#size);
      this.#size += taken;
      return this;
    }

    /** The verdict on everything fed so far: 65001, 932 or 0. */
    guess() {
      return guess(this.#bytes.subarray(0, this.#size));
    }

    /** The name TextDecoder takes for it, or null. */
    codec() {
      return CODECS[this.guess()] ?? null;
    }
  }

  /**
   * The verdict on a stream of pieces (a ReadableStream, a Node stream, any
   * async or sync iterable): it stops pulling once INPUT_LIMIT bytes are in,
   * and closes the source (cancel() on a reader, return() on an iterator, which
   * destroys a Node stream); it yields to the event loop now and then, so that
   * an endless source of small pieces starves nothing.
   */
  async function guessStream(source) {
    const stream = new GuessStream();
    const take = (piece) => {
      if (typeof piece === 'string') {
        throw new TypeError('guessStream: the stream gave a string: its encoding is already gone ' +
                            '(open it without one)');
      }
      stream.feed(piece);
      return stream.size >= INPUT_LIMIT;
    };
    const pause = pauser();
    if (source !== null && typeof source === 'object' && typeof source.getReader === 'function' &&
        !(Symbol.asyncIterator in source)) {
      // A ReadableStream of an engine without async iteration of streams.
      const reader = source.getReader();
      let finished = false;
      try {
        for (;;) {
          const { done, value } = await reader.read();
          if (done) {
            finished = true;
            break;
          }
          if (take(value)) break;
          await pause();
        }
      } finally {
        if (!finished) await reader.cancel();
        reader.releaseLock();
      }
      return stream.guess();
    }
    const iterator = source?.[Symbol.asyncIterator]?.() ?? source?.[Symbol.iterator]?.();
    if (iterator === undefined) {
      throw new TypeError(`guessStream: expected a stream or an iterable, got ${describeValue(source)}`);
    }
    let finished = false;
    try {
      for (;;) {
        const { done, value } = await iterator.next();
        if (done) {
          finished = true;
          break;
        }
        if (take(await value)) break;
        await pause();
      }
    } finally {
      if (!finished) await iterator.return?.();
    }
    return stream.guess();
  }

  function describe(input) {
    const bytes = bytesOf(input, 'describe');
    const address = exports.describe(load(bytes), bytes.length > INPUT_LIMIT ? 1 : 0);
    // The C structure cpg_description: size, flags, kind, code page, rule, bom,
    // ambiguous, reserved, then 64-bit bytes examined, UTF-8 line, Shift_JIS line.
    const view = new DataView(memory.buffer, address, 64);
    const description = {
      kind: KINDS[view.getUint32(8, true)] ?? 'unknown',
      bom: view.getUint32(20, true) !== 0,
      ambiguous: view.getUint32(24, true) !== 0,
      code_page: view.getInt32(12, true) || null,
      rule: RULES[view.getUint32(16, true)] ?? 'undecided',
    };
    if (description.kind === 'empty') description.rule = 'empty';
    // The lines where mixed text changes, where there are any, as the scan
    // gives them.
    const utf8Line = Number(view.getBigUint64(40, true));
    const sjisLine = Number(view.getBigUint64(48, true));
    if (utf8Line !== 0) description.utf8_line = utf8Line;
    if (sjisLine !== 0) description.sjis_line = sjisLine;
    return description;
  }

  return { guess, explain, codec, describe, GuessStream, guessStream };
}
