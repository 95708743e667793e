// codepage-guess/core: the API over a WebAssembly instance of your own.
import type { codec, describe, explain, guess, guessStream, GuessStream } from './index.js';

export type { Bytes, CodePage, Description, Explanation, Kind, Reading, Source } from './index.js';

/** Only this many bytes of any input are examined: 1,048,576. */
export declare const INPUT_LIMIT: number;

/** The calls of the package, over one instance of the module. */
export interface Api {
  guess: typeof guess;
  explain: typeof explain;
  codec: typeof codec;
  describe: typeof describe;
  GuessStream: typeof GuessStream;
  guessStream: typeof guessStream;
}

/** The API over the exports of an instance of codepage_guess.wasm or codepage_guess_simd.wasm. */
export declare function api(exports: WebAssembly.Exports): Api;
