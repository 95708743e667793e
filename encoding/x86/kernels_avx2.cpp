// Built with AVX2 enabled for this file alone; only called after the processor
// has been seen to support it.
#include <immintrin.h>

#include "encoding/vector_rules.hpp"

namespace my {
inline namespace codepage_guess {
namespace {

struct AVX2 {
  using Vec = __m256i;
  static constexpr std::uint32_t kWidth = 32;
  static constexpr std::uint32_t kAllTopBits = 0xFFFFFFFF;

  static Vec load(const std::uint8_t* p) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static void store(std::uint8_t* p, Vec v) noexcept {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
  }
  static Vec splat(std::uint8_t b) noexcept { return _mm256_set1_epi8(static_cast<char>(b)); }
  static Vec zero() noexcept { return _mm256_setzero_si256(); }
  static Vec bitOr(Vec a, Vec b) noexcept { return _mm256_or_si256(a, b); }
  static Vec bitAnd(Vec a, Vec b) noexcept { return _mm256_and_si256(a, b); }
  static Vec eq(Vec a, Vec b) noexcept { return _mm256_cmpeq_epi8(a, b); }
  static Vec lessSigned(Vec a, Vec b) noexcept { return _mm256_cmpgt_epi8(b, a); }
  static Vec subtract(Vec a, Vec b) noexcept { return _mm256_subs_epu8(a, b); }
  static Vec min(Vec a, Vec b) noexcept { return _mm256_min_epu8(a, b); }
  static Vec max(Vec a, Vec b) noexcept { return _mm256_max_epu8(a, b); }
  static Vec add(Vec a, Vec b) noexcept { return _mm256_add_epi8(a, b); }
  static std::uint32_t topBits(Vec v) noexcept {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
  }
};

}  // namespace

extern const Kernels kAVX2Kernels;
const Kernels kAVX2Kernels = kernelsFor<VectorBlock<AVX2>>("avx2", isErrorFreeUTF8Vectors<AVX2>,
                                                           checkUTF8StrictlyVectors<AVX2>);

}  // namespace codepage_guess
}  // namespace my
