#pragma once

#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define CODEPAGE_GUESS_HAVE_SSE2 1
#endif
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace my {
inline namespace codepage_guess {
// Internal linkage: the vector kernels include this header too, and a copy
// compiled for AVX2 must never be the one a plain x86-64 caller links to.
namespace {  // NOLINT(cert-dcl59-cpp,google-build-namespaces)

// Index of the lowest set bit of a non-zero mask.
inline unsigned lowestSetBit(std::uint64_t mask) noexcept {
#if defined(__GNUC__) || defined(__clang__)
  return static_cast<unsigned>(__builtin_ctzll(mask));
#elif defined(_MSC_VER) && defined(_M_X64)
  unsigned long index = 0;
  _BitScanForward64(&index, mask);
  return static_cast<unsigned>(index);
#else
  unsigned index = 0;
  while ((mask & 1u) == 0) {
    mask >>= 1;
    ++index;
  }
  return index;
#endif
}

// Number of bits set. An x86 processor may lack the instruction, and then
// the compilers' builtin is a call into their runtime library, slower than
// these few steps in line.
inline unsigned bitCount(std::uint64_t mask) noexcept {
#if (defined(__GNUC__) || defined(__clang__)) && \
    (defined(__POPCNT__) || !(defined(__x86_64__) || defined(__i386__)))
  return static_cast<unsigned>(__builtin_popcountll(mask));
#else
  mask -= (mask >> 1) & 0x5555555555555555ull;
  mask = (mask & 0x3333333333333333ull) + ((mask >> 2) & 0x3333333333333333ull);
  mask = (mask + (mask >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<unsigned>((mask * 0x0101010101010101ull) >> 56);
#endif
}

// Number of ASCII bytes at the start of a little-endian 8-byte load.
inline unsigned leadingAsciiBytes(std::uint64_t word) noexcept {
  const std::uint64_t high = word & 0x8080808080808080ull;
  return high == 0 ? 8 : lowestSetBit(high) / 8;
}

// The index of the first byte at or after `from` that a scan stops at, or
// `length`: Stop::at() tells it of a byte, and with SSE2 Stop::in16() of 16
// bytes at once, as a mask.
template <typename Stop>
std::uint32_t scanTo(const std::uint8_t* data, std::uint32_t from, std::uint32_t length) noexcept {
  std::uint32_t i = from;
#if defined(CODEPAGE_GUESS_HAVE_SSE2)
  while (length - i >= 16) {
    const unsigned stops = Stop::in16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)));
    if (stops != 0) return i + lowestSetBit(stops);
    i += 16;
  }
#endif
  while (i < length && !Stop::at(data[i]))
    ++i;
  return i;
}

struct AtHighByte {
  static bool at(std::uint8_t b) noexcept { return b >= 0x80; }
#if defined(CODEPAGE_GUESS_HAVE_SSE2)
  static unsigned in16(__m128i v) noexcept {
    return static_cast<unsigned>(_mm_movemask_epi8(v));
  }
#endif
};

struct AtEscape {
  static bool at(std::uint8_t b) noexcept { return b == 0x1B; }
#if defined(CODEPAGE_GUESS_HAVE_SSE2)
  static unsigned in16(__m128i v) noexcept {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x1B))));
  }
#endif
};

// At a byte that is no character byte of the JIS sets of ISO-2022-JP (21-7E).
struct OutsideJISSets {
  static bool at(std::uint8_t b) noexcept { return b < 0x21 || b > 0x7E; }
#if defined(CODEPAGE_GUESS_HAVE_SSE2)
  static unsigned in16(__m128i v) noexcept {
    // 21-7E moved to the bottom of the signed range: below -128 + 5E.
    const __m128i shifted = _mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(0x80 - 0x21)));
    const __m128i limit = _mm_set1_epi8(static_cast<char>(0x80 + 0x5E - 0x100));
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(shifted, limit))) & 0xFFFF;
  }
#endif
};

// Returns the index of the first byte at or after `from` that is not ASCII, or
// `length` when there is none. Both counters ignore ASCII while idle, and most
// text is mostly ASCII, so this is where the time goes on Western files.
inline std::uint32_t skipAscii(const std::uint8_t* data, std::uint32_t from,
                               std::uint32_t length) noexcept {
  return scanTo<AtHighByte>(data, from, length);
}

// Returns the index of the first ESC at or after `from`, or `length`: the
// runs between escape sequences are short, too short for a call to memchr.
inline std::uint32_t findEscape(const std::uint8_t* data, std::uint32_t from,
                                std::uint32_t length) noexcept {
  return scanTo<AtEscape>(data, from, length);
}

// Returns the index of the first byte at or after `from` that is not a
// character byte of the JIS sets of ISO-2022-JP (21-7E), or `length`.
inline std::uint32_t skipJISRun(const std::uint8_t* data, std::uint32_t from,
                                std::uint32_t length) noexcept {
  return scanTo<OutsideJISSets>(data, from, length);
}

// Number of newlines among `length` bytes: the lines they end. Sixteen bytes
// at a time, each counting into its own byte of the tally, which is summed
// before any byte of it could reach 256.
inline std::uint64_t countNewlines(const std::uint8_t* data, std::uint32_t length) noexcept {
  std::uint64_t count = 0;
  std::uint32_t i = 0;
#if defined(CODEPAGE_GUESS_HAVE_SSE2)
  const __m128i newline = _mm_set1_epi8('\n');
  while (length - i >= 16) {
    __m128i tally = _mm_setzero_si128();
    for (unsigned k = 0; k < 255 && length - i >= 16; ++k, i += 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
      tally = _mm_sub_epi8(tally, _mm_cmpeq_epi8(block, newline));  // an equal byte is -1
    }
    const __m128i sums = _mm_sad_epu8(tally, _mm_setzero_si128());
    // Each half's sum, at most 8 * 255, sits in its low bits.
    count += static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
#endif
  for (; i < length; ++i)
    count += data[i] == '\n';
  return count;
}

}  // namespace
}  // namespace codepage_guess
}  // namespace my
