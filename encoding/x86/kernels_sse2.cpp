#include <emmintrin.h>

#include "encoding/vector_rules.hpp"
#include "encoding/x86/pair_indexes.hpp"

namespace my {
inline namespace codepage_guess {
namespace {

// Each bit of a byte spread to a byte of its own, 1 where it is set: the
// marks of eight bytes from eight bits of a mask.
struct SpreadBits {
  std::uint64_t bytes[256];
};
constexpr SpreadBits spreadBits() noexcept {
  SpreadBits s{};
  for (unsigned m = 0; m < 256; ++m) {
    for (unsigned k = 0; k < 8; ++k)
      s.bytes[m] |= std::uint64_t{(m >> k) & 1} << (8 * k);
  }
  return s;
}
constexpr SpreadBits kSpreadBits = spreadBits();

// SSE2, which every x86-64 processor has.
struct SSE2 {
  using Vec = __m128i;
  static constexpr std::uint32_t kWidth = 16;
  static constexpr std::uint32_t kAllTopBits = 0xFFFF;

  static Vec load(const std::uint8_t* p) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  static void store(std::uint8_t* p, Vec v) noexcept {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  }
  static Vec splat(std::uint8_t b) noexcept { return _mm_set1_epi8(static_cast<char>(b)); }
  static Vec zero() noexcept { return _mm_setzero_si128(); }
  static Vec bitOr(Vec a, Vec b) noexcept { return _mm_or_si128(a, b); }
  static Vec bitAnd(Vec a, Vec b) noexcept { return _mm_and_si128(a, b); }
  static Vec eq(Vec a, Vec b) noexcept { return _mm_cmpeq_epi8(a, b); }
  static Vec lessSigned(Vec a, Vec b) noexcept { return _mm_cmplt_epi8(a, b); }
  static Vec subtract(Vec a, Vec b) noexcept { return _mm_subs_epu8(a, b); }
  static Vec min(Vec a, Vec b) noexcept { return _mm_min_epu8(a, b); }
  static Vec max(Vec a, Vec b) noexcept { return _mm_max_epu8(a, b); }
  static Vec add(Vec a, Vec b) noexcept { return _mm_add_epi8(a, b); }
  static Vec bitXor(Vec a, Vec b) noexcept { return _mm_xor_si128(a, b); }
  static std::uint32_t topBits(Vec v) noexcept {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(v));
  }
  // markedIndexes() of block_kernels.hpp: each mask's bits spread to bytes
  // by a table, eight at a time, beside the bytes in lanes of 16 bits. (SSE2
  // has no byte shuffle; spreading a mask by compares took twice as long.)
  static void markIndexes(const std::uint8_t* bytes, std::uint64_t inUTF8, std::uint64_t second,
                          std::uint16_t* index) noexcept {
    const auto marks = [&](unsigned at) {
      const std::uint64_t first = kSpreadBits.bytes[(inUTF8 >> at) & 0xFF];
      return first | kSpreadBits.bytes[(second >> at) & 0xFF] << 1;
    };
    for (unsigned at = 0; at < 64; at += 16) {
      const __m128i v = load(bytes + at);
      const __m128i m =
          _mm_unpacklo_epi64(_mm_cvtsi64_si128(static_cast<long long>(marks(at))),
                             _mm_cvtsi64_si128(static_cast<long long>(marks(at + 8))));
      _mm_store_si128(reinterpret_cast<__m128i*>(index + at), _mm_unpacklo_epi8(v, m));
      _mm_store_si128(reinterpret_cast<__m128i*>(index + at + 8), _mm_unpackhi_epi8(v, m));
    }
  }
  static void pairIndexes(const std::uint8_t* in, unsigned, std::uint64_t index[2]) noexcept {
    shiftJISPairIndexes(in, index);
  }
};

}  // namespace

extern const Kernels kSSE2Kernels;
const Kernels kSSE2Kernels =
    kernelsFor<VectorBlock<SSE2>, isErrorFreeUTF8Vectors<SSE2>, checkUTF8StrictlyVectors<SSE2>>(
        "sse2");

}  // namespace codepage_guess
}  // namespace my
