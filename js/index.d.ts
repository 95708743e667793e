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

/** One of codepage-scan's kinds: what the bytes are. */
export type Kind =
  | 'empty' | 'ascii' | 'utf-8' | 'utf-16le' | 'utf-16be' | 'utf-32le' | 'utf-32be'
  | 'shift_jis' | 'euc-jp' | 'iso-2022-jp' | 'mixed' | 'binary' | 'unknown';

/** What the bytes are beside the verdict, with the names of codepage-scan's JSON. */
export interface Description {
  kind: Kind;
  /** A byte order mark starts the bytes. */
  bom: boolean;
  /** Valid UTF-8 and valid Shift_JIS with non-ASCII: the verdict rests on the score. */
  ambiguous: boolean;
  /** The verdict, as guess() gives it, or null when undecided. */
  code_page: 65001 | 932 | null;
  rule: 'only_error_free' | 'best_score' | 'undecided' | 'empty';
  /** The first line (from 1) that is well-formed multi-byte UTF-8, and the first that only Shift_JIS reads, where there is one. */
  utf8_line?: number;
  sjis_line?: number;
}

/**
 * What the first INPUT_LIMIT bytes are: the kind codepage-scan gives, beside
 * the verdict. Throws a TypeError for anything but Bytes.
 */
export declare function describe(bytes: Bytes): Description;

/** For bytes that arrive in pieces: the verdict equals guess() on the pieces joined, however split. */
export declare class GuessStream {
  /** Bytes kept so far: at most INPUT_LIMIT. */
  readonly size: number;
  feed(piece: Bytes): this;
  guess(): CodePage;
  codec(): 'utf-8' | 'shift_jis' | null;
}

/** A source of pieces: a ReadableStream, a Node stream, any async or sync iterable of bytes. */
export type Source = AsyncIterable<Bytes> | Iterable<Bytes> | ReadableStream<Uint8Array>;

/**
 * The verdict on the first INPUT_LIMIT bytes of a source: it stops pulling
 * there and closes the source. A piece that is a string rejects with a
 * TypeError.
 */
export declare function guessStream(source: Source): Promise<CodePage>;
