// codepage-guess/loader: the API over a module loaded from where you say.
import type { Api } from './core.js';

export type { Bytes, CodePage, Description, Explanation, Kind, Reading, Source } from './index.js';

/** Where a module is: a URL, a Response, its bytes, or the module compiled. */
export type ModuleSource = string | URL | Response | ArrayBuffer | ArrayBufferView | WebAssembly.Module;

/** Only this many bytes of any input are examined: 1,048,576. */
export declare const INPUT_LIMIT: number;

/**
 * The API over codepage_guess_simd.wasm where the engine has WebAssembly SIMD
 * (or where it is the only one given), codepage_guess.wasm elsewhere.
 */
export declare function load(sources: {
  simd?: ModuleSource;
  plain?: ModuleSource;
}): Promise<Api & { INPUT_LIMIT: number; simd: boolean }>;
