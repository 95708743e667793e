// Picks the module this engine runs best: the SIMD build where WebAssembly's
// 128-bit SIMD is there (Node 16.4 and later, current browsers), the plain one
// elsewhere. Both make the same decision.

// The smallest module that uses a SIMD instruction: (func (result v128)
// (v128.const i32x4 0 0 0 0)). It validates only where SIMD is supported.
const SIMD_PROBE = new Uint8Array([
  0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 22, 1, 20, 0, 253, 12,
  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 11,
]);

/** Whether this engine runs the SIMD build. */
export function runsSimd() {
  return WebAssembly.validate(SIMD_PROBE);
}

/** The file name of the module this engine runs best. */
export function moduleName() {
  return runsSimd() ? 'codepage_guess_simd.wasm' : 'codepage_guess.wasm';
}

/** The module's exports, with `simd` saying which build they are. */
export function withFlavour(instance, simd) {
  return Object.assign(Object.create(null), instance.exports, { simd });
}

export async function instantiate(read) {
  const simd = runsSimd();
  const bytes = await read(moduleName());
  const { instance } = await WebAssembly.instantiate(bytes, {});
  return withFlavour(instance, simd);
}
