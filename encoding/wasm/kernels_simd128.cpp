// WebAssembly's 128-bit SIMD, for a module built with -msimd128: the rules
// of vector_rules.hpp on the operations every engine that runs it has.
#include <wasm_simd128.h>

#include "encoding/vector_rules.hpp"

namespace my {
inline namespace codepage_guess {
namespace {

struct SIMD128 {
  using Vec = v128_t;
  static constexpr std::uint32_t kWidth = 16;
  static constexpr std::uint32_t kAllTopBits = 0xFFFF;

  static Vec load(const std::uint8_t* p) noexcept { return wasm_v128_load(p); }
  static void store(std::uint8_t* p, Vec v) noexcept { wasm_v128_store(p, v); }
  static Vec splat(std::uint8_t b) noexcept { return wasm_u8x16_splat(b); }
  static Vec zero() noexcept { return wasm_u8x16_splat(0); }
  static Vec bitOr(Vec a, Vec b) noexcept { return wasm_v128_or(a, b); }
  static Vec bitAnd(Vec a, Vec b) noexcept { return wasm_v128_and(a, b); }
  static Vec eq(Vec a, Vec b) noexcept { return wasm_i8x16_eq(a, b); }
  static Vec lessSigned(Vec a, Vec b) noexcept { return wasm_i8x16_lt(a, b); }
  static Vec subtract(Vec a, Vec b) noexcept { return wasm_u8x16_sub_sat(a, b); }
  static Vec min(Vec a, Vec b) noexcept { return wasm_u8x16_min(a, b); }
  static Vec max(Vec a, Vec b) noexcept { return wasm_u8x16_max(a, b); }
  static Vec add(Vec a, Vec b) noexcept { return wasm_i8x16_add(a, b); }
  static Vec bitXor(Vec a, Vec b) noexcept { return wasm_v128_xor(a, b); }
  static std::uint32_t topBits(Vec v) noexcept { return wasm_i8x16_bitmask(v); }
};

}  // namespace

extern const Kernels kSIMD128Kernels;
const Kernels kSIMD128Kernels = kernelsFor<VectorBlock<SIMD128>, isErrorFreeUTF8Vectors<SIMD128>,
                                           checkUTF8StrictlyVectors<SIMD128>>("simd128");

}  // namespace codepage_guess
}  // namespace my
