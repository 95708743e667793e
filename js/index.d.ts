/** Bytes the functions take: a Uint8Array (a Node Buffer is one) or an ArrayBuffer. */
export type Bytes = Uint8Array | ArrayBuffer;

/** 65001 (UTF-8), 932 (Shift_JIS) or 0 (undecided). */
export type CodePage = 65001 | 932 | 0;

/** Only this many bytes of any input are examined: 1,048,576. */
export declare const INPUT_LIMIT: number;

/** Whether the SIMD build of the module is the one in use. */
export declare const simd: boolean;

/**
 * Decides on the first INPUT_LIMIT bytes, as the codepage-guess command does.
 * Throws a TypeError for anything but Bytes, and for a detached buffer.
 */
export declare function guess(bytes: Bytes): CodePage;

/** The name TextDecoder takes for the verdict ("utf-8", "shift_jis"), or null when undecided. */
export declare function codec(bytes: Bytes): 'utf-8' | 'shift_jis' | null;

/** One reading of the bytes. */
export interface Reading {
  codePage: 65001 | 932;
  /** Bytes that broke the encoding's rules. */
  errors: number;
  /** Cosine with the encoding's profile of Japanese text, 0 to 1. */
  score: number;
}

export interface Explanation {
  codePage: CodePage;
  /** The only reading without broken bytes won, the better score won, or neither. */
  rule: 'only_error_free' | 'best_score' | 'undecided';
  /** Bytes looked at: at most INPUT_LIMIT. */
  examined: number;
  /** UTF-8 first, then Shift_JIS. */
  readings: [Reading, Reading];
}

/** The verdict with both readings' error counts and scores and the rule: the slower full reading. */
export declare function explain(bytes: Bytes): Explanation;

/** For bytes that arrive in pieces: the verdict equals guess() on the pieces joined, however split. */
export declare class GuessStream {
  feed(piece: Bytes): this;
  guess(): CodePage;
  codec(): 'utf-8' | 'shift_jis' | null;
}

/** The verdict on every piece of an async iterable (a ReadableStream, a Node stream). */
export declare function guessStream(source: AsyncIterable<Bytes | string>): Promise<CodePage>;

/** codepage-guess/core: the API over a module instance of your own. */
export declare function api(exports: WebAssembly.Exports): {
  guess: typeof guess;
  explain: typeof explain;
  codec: typeof codec;
  GuessStream: typeof GuessStream;
  guessStream: typeof guessStream;
};
