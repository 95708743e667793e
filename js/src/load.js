// Picks the module this engine runs best: the SIMD build where WebAssembly's
// 128-bit SIMD is there (Node 16.4 and later, current browsers), the plain one
// elsewhere. Both make the same decision.

// The smallest module that uses a SIMD instruction: (func (result v128)
// (v128.const i32x4 0 0 0 0)). It validates only where SIMD is supported.
const SIMD_PROBE = new Uint8Array([
  0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 22, 1, 20, 0, 253, 12,
  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 11,
]);

export async function instantiate(read) {
  const simd = WebAssembly.validate(SIMD_PROBE);
  const bytes = await read(simd ? 'codepage_guess_simd.wasm' : 'codepage_guess.wasm');
  const { instance } = await WebAssembly.instantiate(bytes, {});
  return Object.assign(Object.create(null), instance.exports, { simd });
}
