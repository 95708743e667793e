// Built with AVX2 enabled for this file alone; only called after the processor
// has been seen to support it.
#include <immintrin.h>

#include "encoding/vector_rules.hpp"
#include "encoding/x86/pair_indexes.hpp"

namespace my {
inline namespace codepage_guess {
namespace {

// Four bytes of ASCII and half-width katakana (U+FF61-FF9F: EF BD A1 to EF BD
// BF, EF BE 80 to EF BE 9F) to UTF-8 by one shuffle, for each pattern of
// katakana among them. The shuffle takes eight bytes' last and middle bytes
// of UTF-8, in pairs (an ASCII byte's last byte is itself), the first four
// or the second four; the EF each katakana starts with is put in after.
struct KatakanaShuffles {
  std::uint8_t from[2][16][16];  // by which four of the eight, then the pattern
  std::uint8_t first[16][16];
  std::uint8_t length[16];
};

constexpr KatakanaShuffles katakanaShuffles() noexcept {
  KatakanaShuffles x{};
  for (unsigned four = 0; four < 2; ++four) {
    for (unsigned pattern = 0; pattern < 16; ++pattern) {
      unsigned o = 0;
      for (unsigned k = 0; k < 4; ++k) {
        const auto last = static_cast<std::uint8_t>(8 * four + 2 * k);
        if (((pattern >> k) & 1) != 0) {
          x.from[four][pattern][o] = 0x80;  // zero
          x.first[pattern][o++] = 0xEF;
          x.from[four][pattern][o++] = static_cast<std::uint8_t>(last + 1);
        }
        x.from[four][pattern][o++] = last;
      }
      for (unsigned rest = o; rest < 16; ++rest)
        x.from[four][pattern][rest] = 0x80;
      x.length[pattern] = static_cast<std::uint8_t>(o);
    }
  }
  return x;
}

alignas(16) constexpr KatakanaShuffles kKatakanaShuffles = katakanaShuffles();

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

  // A block of nothing but ASCII and half-width katakana to UTF-8 at `out`,
  // four bytes at a time with no branch; returns the bytes written, having
  // stored up to 16 more.
  static std::size_t expandKatakana(const std::uint8_t* bytes, std::uint8_t* out) noexcept {
    const KatakanaShuffles& x = kKatakanaShuffles;
    std::size_t written = 0;
    for (unsigned half = 0; half < 2; ++half) {
      const __m256i v = load(bytes + 32 * half);
      // Every byte from 80 up is a katakana here; from C0, the second row.
      const __m256i katakana = _mm256_cmpgt_epi8(_mm256_setzero_si256(), v);
      const __m256i fromC0 = _mm256_and_si256(
          katakana, _mm256_cmpgt_epi8(v, _mm256_set1_epi8(static_cast<char>(0xBF))));
      const __m256i last = _mm256_sub_epi8(v, _mm256_and_si256(fromC0, _mm256_set1_epi8(0x40)));
      const __m256i middle = _mm256_sub_epi8(_mm256_set1_epi8(static_cast<char>(0xBD)), fromC0);
      // In each 128-bit lane, the first eight bytes' pairs, then the others'.
      const __m256i low = _mm256_unpacklo_epi8(last, middle);
      const __m256i high = _mm256_unpackhi_epi8(last, middle);
      const __m128i eights[4] = {_mm256_castsi256_si128(low), _mm256_castsi256_si128(high),
                                 _mm256_extracti128_si256(low, 1),
                                 _mm256_extracti128_si256(high, 1)};
      const auto katakanaBits = static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
      for (unsigned e = 0; e < 4; ++e) {
        for (unsigned four = 0; four < 2; ++four) {
          const unsigned pattern = (katakanaBits >> (8 * e + 4 * four)) & 0xF;
          const __m128i shuffled = _mm_shuffle_epi8(
              eights[e], _mm_load_si128(reinterpret_cast<const __m128i*>(x.from[four][pattern])));
          const __m128i first = _mm_load_si128(reinterpret_cast<const __m128i*>(x.first[pattern]));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out + written),
                           _mm_or_si128(shuffled, first));
          written += x.length[pattern];
        }
      }
    }
    return written;
  }

  // markedIndexes() of block_kernels.hpp: each mask's bits spread to bytes
  // (every byte takes its mask's byte and keeps its own bit of it), beside
  // the bytes in lanes of 16 bits. The indexes come out in another order
  // than the bytes, which a histogram does not mind, each eight bytes' still
  // together and in order, as the counts' copies are by two bytes in a row.
  static void markIndexes(const std::uint8_t* bytes, std::uint64_t inUTF8, std::uint64_t second,
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
      const __m256i marks = _mm256_or_si256(spread(inUTF8, half, 1), spread(second, half, 2));
      _mm256_store_si256(reinterpret_cast<__m256i*>(index + 32 * half),
                         _mm256_unpacklo_epi8(v, marks));
      _mm256_store_si256(reinterpret_cast<__m256i*>(index + 32 * half + 16),
                         _mm256_unpackhi_epi8(v, marks));
    }
  }

  // Where every pair of a block would have its character, worked out once
  // for the block, sixteen leads at a time. The lookups below then load
  // their indexes rather than work out their own and take them out of a
  // vector one by one; on prose, a block's three runs of pairs or so repay
  // the four vectors.
  static void blockPairIndexes(const std::uint8_t* bytes, BlockPairIndexes& indexes) noexcept {
    for (unsigned k = 0; k < kBlock; k += 16)
      _mm256_store_si256(reinterpret_cast<__m256i*>(indexes.at + k),
                         shiftJISPairIndexesAtEveryByte(bytes + k));
  }

  // threeBytePairs() of block_kernels.hpp, up to a block's 32 pairs at a
  // time, where their characters are every other entry of `at`
  // (blockPairIndexes', from the first pair's lead on). The characters are
  // loaded one by one and put into lanes: that takes half the time of the
  // gather instruction on processors where it is microcoded (AMD's), and no
  // more on the others. Eight at a time, as many eights as the run has.
  static constexpr unsigned kPairsPerLookup = 32;
  static unsigned threeBytePairs(const PackedUTF8* characters, const std::uint16_t* at,
                                 unsigned pairs, std::uint8_t* out, PackedUTF8 refused) noexcept {
    const auto four = [&](unsigned from) {
      __m128i v = _mm_cvtsi32_si128(static_cast<int>(characters[at[2 * from]]));
      v = _mm_insert_epi32(v, static_cast<int>(characters[at[2 * from + 2]]), 1);
      v = _mm_insert_epi32(v, static_cast<int>(characters[at[2 * from + 4]]), 2);
      return _mm_insert_epi32(v, static_cast<int>(characters[at[2 * from + 6]]), 3);
    };
    const __m256i checked = _mm256_set1_epi32(static_cast<int>(0x7F000000u | refused));
    const __m256i three = _mm256_set1_epi32(0x03000000);
    // Each character's three bytes, together; an index with its top bit set
    // makes a zero (the cast: plain char may be unsigned).
    constexpr char z = static_cast<char>(0x80);
    const __m256i together = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, z, z, z, z, 0,
                                              1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, z, z, z, z);
    // Eight characters from the `from`th on, written: a bit for each that is
    // three bytes of UTF-8 and not refused.
    const auto eight = [&](unsigned from) {
      const __m256i found = _mm256_set_m128i(four(from + 4), four(from));
      const __m256i bytes = _mm256_shuffle_epi8(found, together);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * from), _mm256_castsi256_si128(bytes));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * from + 12),
                       _mm256_extracti128_si256(bytes, 1));
      return static_cast<unsigned>(_mm256_movemask_ps(
          _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(found, checked), three))));
    };
    unsigned right = eight(0);
    if (pairs > 8) {
      right |= eight(8) << 8;
      if (pairs > 16) {
        right |= eight(16) << 16;
        if (pairs > 24) right |= eight(24) << 24;
      }
    }
    return ~right;
  }
};

}  // namespace

extern const Kernels kAVX2Kernels;
const Kernels kAVX2Kernels =
    kernelsFor<VectorBlock<AVX2>, isErrorFreeUTF8Vectors<AVX2>, checkUTF8StrictlyVectors<AVX2>>(
        "avx2");

}  // namespace codepage_guess
}  // namespace my
