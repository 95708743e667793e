// Node: the module is read from beside this file and ready once the import
// has resolved.
import { readFile } from 'node:fs/promises';

import { api, INPUT_LIMIT } from './core.js';
import { instantiate } from './load.js';

const exports = await instantiate((name) => readFile(new URL(`../dist/${name}`, import.meta.url)));

export const { guess, explain, codec, describe, GuessStream, guessStream } = api(exports);
export { INPUT_LIMIT };
export const simd = exports.simd;
