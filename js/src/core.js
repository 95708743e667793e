// The API over an instance of the WebAssembly module. The decision is the C
// library's, compiled to WebAssembly; this file only moves bytes in and
// results out.

/** Only this many bytes of any input are examined. */
export const INPUT_LIMIT = 1048576;

const RULES = ['undecided', 'only_error_free', 'best_score'];
const CODECS = { 65001: 'utf-8', 932: 'shift_jis' };

/** The bytes of a Uint8Array (a Node Buffer is one) or an ArrayBuffer. */
function bytesOf(input, name) {
  let view;
  if (input instanceof Uint8Array) {
    view = input;
  } else if (input instanceof ArrayBuffer) {
    view = input;
  } else {
    throw new TypeError(`${name}: expected a Uint8Array, Buffer or ArrayBuffer, got ${describe(input)}`);
  }
  const buffer = view instanceof ArrayBuffer ? view : view.buffer;
  // A detached buffer reads as empty: refuse it rather than answer for no bytes.
  if (isDetached(buffer)) throw new TypeError(`${name}: the buffer is detached`);
  return view instanceof ArrayBuffer ? new Uint8Array(view) : view;
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

function describe(value) {
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

  /** The verdict on a stream of pieces (a ReadableStream, a Node stream, any async iterable). */
  async function guessStream(source) {
    const stream = new GuessStream();
    for await (const piece of source) {
      stream.feed(typeof piece === 'string' ? new TextEncoder().encode(piece) : piece);
    }
    return stream.guess();
  }

  return { guess, explain, codec, GuessStream, guessStream };
}
