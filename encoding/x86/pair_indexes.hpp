#pragma once

// Where Shift_JIS pairs' characters are in ShiftJISTables::characters,
// computed in lanes of 16 bits: eight pairs in a row, or (AVX2) a lead at each
// of sixteen bytes. Included by each x86 kernel file, so that each compiles it
// for its own instruction set.

#include <emmintrin.h>
#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include <cstdint>

namespace my {
inline namespace codepage_guess {
namespace {  // NOLINT(cert-dcl59-cpp,google-build-namespaces): see block_kernels.hpp

// `v`, out of the compiler's sight. Knowing that a factor is 188 in every
// lane, GCC multiplies by it with five shifts and adds, which take longer
// than the one multiply.
template <typename Vector>
inline Vector opaque(Vector v) noexcept {
#if defined(__GNUC__)
  __asm__("" : "+x"(v));
#endif
  return v;
}

// `p`, out of the compiler's sight, so that what it points to is loaded
// rather than worked out again from the values the compiler knows.
template <typename T>
inline const T* opaquePointer(const T* p) noexcept {
#if defined(__GNUC__)
  __asm__("" : "+r"(p));
#endif
  return p;
}

// Each lane of 16 bits, taken as a lead and a trail, gets 256 + 188 * row +
// column: the rows counted from 81 and, from the 31st on, from E0, the columns
// from 40 and, past 7F, from 41. The subtractions stop at 0, so that any two
// bytes give an entry of the table: those past a run's pairs (whose lanes the
// callers ignore rather than pay to clear) and those rewritten since
// their classes were read.
inline __m128i shiftJISPairIndexes(const std::uint8_t* in) noexcept {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  const __m128i lead = _mm_and_si128(v, _mm_set1_epi16(0xFF));
  const __m128i trail = _mm_srli_epi16(v, 8);
  const __m128i row = _mm_subs_epu16(
      _mm_subs_epu16(lead, _mm_set1_epi16(0x81)),
      _mm_and_si128(_mm_cmpgt_epi16(lead, _mm_set1_epi16(0x9F)), _mm_set1_epi16(0x40)));
  const __m128i column = _mm_add_epi16(_mm_subs_epu16(trail, _mm_set1_epi16(0x40)),
                                       _mm_cmpgt_epi16(trail, _mm_set1_epi16(0x7F)));
  return _mm_add_epi16(_mm_mullo_epi16(row, opaque(_mm_set1_epi16(188))),
                       _mm_add_epi16(column, _mm_set1_epi16(256)));
}

#if defined(__AVX2__)
// The constants below, in memory, where the instructions take them as they
// are: broadcast from general registers, as GCC does them, they take more
// instructions each block than the indexes themselves.
struct alignas(32) EveryBytePairIndexConstants {
  std::uint16_t firstLead[16], lastLowLead[16], leadGap[16], firstTrail[16], lastLowTrail[16],
      rowLength[16], pairsStart[16];
};

constexpr EveryBytePairIndexConstants everyBytePairIndexConstants() noexcept {
  EveryBytePairIndexConstants c{};
  for (unsigned k = 0; k < 16; ++k) {
    c.firstLead[k] = 0x81;
    c.lastLowLead[k] = 0x9F;
    c.leadGap[k] = 0x40;
    c.firstTrail[k] = 0x40;
    c.lastLowTrail[k] = 0x7F;
    c.rowLength[k] = 188;
    c.pairsStart[k] = 256;
  }
  return c;
}

inline constexpr EveryBytePairIndexConstants kEveryBytePairIndexConstants =
    everyBytePairIndexConstants();

inline __m256i load16(const std::uint16_t (&sixteen)[16]) noexcept {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(sixteen));
}

// The same for the sixteen bytes at `in` as leads, each with the byte after
// it as its trail, in a file built for AVX2.
inline __m256i shiftJISPairIndexesAtEveryByte(const std::uint8_t* in) noexcept {
  const EveryBytePairIndexConstants& c = *opaquePointer(&kEveryBytePairIndexConstants);
  const __m256i lead = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)));
  const __m256i trail =
      _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 1)));
  const __m256i row = _mm256_subs_epu16(
      _mm256_subs_epu16(lead, load16(c.firstLead)),
      _mm256_and_si256(_mm256_cmpgt_epi16(lead, load16(c.lastLowLead)), load16(c.leadGap)));
  const __m256i column = _mm256_add_epi16(_mm256_subs_epu16(trail, load16(c.firstTrail)),
                                          _mm256_cmpgt_epi16(trail, load16(c.lastLowTrail)));
  return _mm256_add_epi16(_mm256_mullo_epi16(row, load16(c.rowLength)),
                          _mm256_add_epi16(column, load16(c.pairsStart)));
}
#endif

inline void shiftJISPairIndexes(const std::uint8_t* in, std::uint64_t index[2]) noexcept {
  const __m128i at = shiftJISPairIndexes(in);
  index[0] = static_cast<std::uint64_t>(_mm_cvtsi128_si64(at));
  index[1] = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(at, at)));
}

}  // namespace
}  // namespace codepage_guess
}  // namespace my
