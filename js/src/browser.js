// Browsers and bundlers: the module is fetched from beside this file (a
// bundler that understands new URL(..., import.meta.url) copies it along)
// and ready once the import has resolved.
import { api, INPUT_LIMIT } from './core.js';
import { instantiate } from './load.js';

const exports = await instantiate(async (name) => {
  const response = await fetch(new URL(`../dist/${name}`, import.meta.url));
  if (!response.ok) throw new Error(`codepage-guess: cannot load ${name}: ${response.status}`);
  return response.arrayBuffer();
});

export const { guess, explain, codec, describe, GuessStream, guessStream } = api(exports);
export { INPUT_LIMIT };
export const simd = exports.simd;
