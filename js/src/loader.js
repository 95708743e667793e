// The API over a module loaded from where the caller says: for bundlers that
// do not copy the module along by themselves (esbuild), for a server that
// keeps it elsewhere, or for bytes the caller already has.
//
//   import { load } from 'codepage-guess/loader';
//   import simd from 'codepage-guess/dist/codepage_guess_simd.wasm';   // esbuild --loader:.wasm=file
//   import plain from 'codepage-guess/dist/codepage_guess.wasm';
//   const { guess } = await load({ simd, plain });
import { api, INPUT_LIMIT } from './core.js';
import { runsSimd, withFlavour } from './load.js';

async function bytesFrom(source) {
  if (source instanceof WebAssembly.Module) return source;
  if (typeof source === 'string' || source instanceof URL) {
    const response = await fetch(source);
    if (!response.ok) throw new Error(`codepage-guess: cannot load ${source}: ${response.status}`);
    return response.arrayBuffer();
  }
  if (typeof Response !== 'undefined' && source instanceof Response) return source.arrayBuffer();
  return source;  // an ArrayBuffer or a view of one
}

/**
 * The API of codepage-guess over the module at `sources.simd` (used where the
 * engine has WebAssembly SIMD) or `sources.plain`: each a URL, a Response,
 * bytes or a compiled WebAssembly.Module. Either may be left out when the
 * other will do.
 */
export async function load(sources) {
  const simd = sources?.simd !== undefined && (runsSimd() || sources.plain === undefined);
  const source = simd ? sources.simd : sources?.plain;
  if (source === undefined) throw new TypeError('load: give the module as { simd, plain }');
  const bytes = await bytesFrom(source);
  const instance = bytes instanceof WebAssembly.Module
    ? await WebAssembly.instantiate(bytes, {})
    : (await WebAssembly.instantiate(bytes, {})).instance;
  return { ...api(withFlavour(instance, simd)), INPUT_LIMIT, simd };
}

export { INPUT_LIMIT };
