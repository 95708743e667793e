// Built with AVX2 enabled for this file alone; only called after the processor
// has been seen to support it.
#include <immintrin.h>

#include "encoding/vector_rules.hpp"
#include "encoding/x86/pair_indexes.hpp"

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
  static Vec bitXor(Vec a, Vec b) noexcept { return _mm256_xor_si256(a, b); }
  static constexpr bool kLooksUpNibbles = true;
  // The same 16-byte table in both halves, for lookup().
  static Vec table(const std::uint8_t* sixteen) noexcept {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(sixteen)));
  }
  // Each byte of `index` (0 to 15) replaced by that entry of `table`.
  static Vec lookup(Vec table, Vec index) noexcept { return _mm256_shuffle_epi8(table, index); }
  static Vec highNibbles(Vec v) noexcept {
    return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
  }
  static std::uint32_t topBits(Vec v) noexcept {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
  }

  static void pairIndexes(const std::uint8_t* in, unsigned pairs, std::uint64_t index[2]) noexcept {
    shiftJISPairIndexes(in, pairs, index);
  }

  // markedIndexes() of block_kernels.hpp: each mask's bits spread to bytes
  // (every byte takes its mask's byte and keeps its own bit of it), beside
  // the bytes in lanes of 16 bits. The indexes come out in another order
  // than the bytes, which a histogram does not mind.
  static void markIndexes(const std::uint8_t* bytes, std::uint64_t inUTF8, std::uint64_t trails,
                          std::uint16_t* index) noexcept {
    const __m256i byteOfMask = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2,
                                                2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3);
    const __m256i bitOfByte = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
    const auto spread = [&](std::uint64_t mask, unsigned half, std::uint8_t mark) {
      const __m256i bits = _mm256_shuffle_epi8(
          _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(mask >> (32 * half)))),
          byteOfMask);
      return _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_and_si256(bits, bitOfByte), bitOfByte),
                              _mm256_set1_epi8(static_cast<char>(mark)));
    };
    for (unsigned half = 0; half < 2; ++half) {
      const __m256i v = load(bytes + 32 * half);
      const __m256i marks = _mm256_or_si256(spread(inUTF8, half, 1), spread(trails, half, 2));
      _mm256_store_si256(reinterpret_cast<__m256i*>(index + 32 * half),
                         _mm256_unpacklo_epi8(v, marks));
      _mm256_store_si256(reinterpret_cast<__m256i*>(index + 32 * half + 16),
                         _mm256_unpackhi_epi8(v, marks));
    }
  }

  // threeBytePairs() of block_kernels.hpp, sixteen pairs at a time. The
  // characters are loaded one by one and put into lanes: that takes half the
  // time of the gather instruction on processors where it is microcoded
  // (AMD's), and no more on the others.
  static constexpr unsigned kPairsPerLookup = 16;
  static unsigned threeBytePairs(const PackedUTF8* characters, const std::uint8_t* in,
                                 unsigned pairs, std::uint8_t* out, PackedUTF8 refused) noexcept {
    alignas(32) std::uint16_t at[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), shiftJISPairIndexes16(in, pairs));
    const auto four = [&](unsigned from) {
      __m128i v = _mm_cvtsi32_si128(static_cast<int>(characters[at[from]]));
      v = _mm_insert_epi32(v, static_cast<int>(characters[at[from + 1]]), 1);
      v = _mm_insert_epi32(v, static_cast<int>(characters[at[from + 2]]), 2);
      return _mm_insert_epi32(v, static_cast<int>(characters[at[from + 3]]), 3);
    };
    const __m256i low = _mm256_set_m128i(four(4), four(0));
    // A short run, between other characters, takes half the loads.
    const __m256i high = pairs > 8 ? _mm256_set_m128i(four(12), four(8)) : _mm256_setzero_si256();
    const __m256i checked = _mm256_set1_epi32(static_cast<int>(0x7F000000u | refused));
    const __m256i three = _mm256_set1_epi32(0x03000000);
    const auto right = [&](__m256i found) {
      return static_cast<unsigned>(_mm256_movemask_ps(
          _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(found, checked), three))));
    };
    // Each character's three bytes, together; an index with its top bit set
    // makes a zero (the cast: plain char may be unsigned).
    constexpr char z = static_cast<char>(0x80);
    const __m256i together = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, z, z, z, z, 0,
                                              1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, z, z, z, z);
    const __m256i first = _mm256_shuffle_epi8(low, together);
    const __m256i second = _mm256_shuffle_epi8(high, together);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(first));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm256_extracti128_si256(first, 1));
    if (pairs > 8) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), _mm256_castsi256_si128(second));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 36), _mm256_extracti128_si256(second, 1));
    }
    const unsigned wrong = ~(right(low) | right(high) << 8) & 0xFFFFu;
    return lowestSetBit(wrong | (1u << pairs));
  }
};

}  // namespace

extern const Kernels kAVX2Kernels;
const Kernels kAVX2Kernels =
    kernelsFor<VectorBlock<AVX2>, isErrorFreeUTF8Vectors<AVX2>, checkUTF8StrictlyVectors<AVX2>>(
        "avx2");

}  // namespace codepage_guess
}  // namespace my
