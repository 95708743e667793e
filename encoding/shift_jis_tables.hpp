#pragma once

// Code page 932 as the decoders read it: each character's UTF-8 by the row of
// its lead byte and the column of its trail byte.

#include <cstdint>

namespace my {
inline namespace codepage_guess {

// A character's UTF-8, packed: its bytes from the lowest, its length in bits
// 24-26, kEncodedElsewhere set where the code encodes back to another one; 0
// for no character. Every character of code page 932 lies in the Basic
// Multilingual Plane, so three bytes hold it.
using PackedUTF8 = std::uint32_t;
constexpr PackedUTF8 kEncodedElsewhere = 0x80000000u;

// Static: the kernels of each instruction set include this.
static inline std::uint32_t packedLength(PackedUTF8 p) noexcept {
  return (p >> 24) & 7;
}

constexpr std::uint8_t kNoRow = 0xFF;  // in row[] and column[]: not a lead, not a trail

struct ShiftJISTables {
  std::uint8_t row[256];     // of a lead byte: 81-9F, E0-FC
  std::uint8_t column[256];  // of a trail byte: 40-7E, 80-FC
  // Where the characters a byte starts are in `characters`: a byte alone at
  // itself, a lead's at 256 + 188 * its row, by the trail's column.
  std::uint16_t start[256];
  // ASCII and half-width katakana (NUL one byte long), then the pairs, then
  // rows of no character. A lookup reads a pair's bytes again after their
  // classes were taken, and another program may have rewritten them since:
  // whatever they have become, the index stays in here (a column up to
  // kNoRow; in the vector kernels, which take the row from the lead's value,
  // up to row 62).
  PackedUTF8 characters[256 + 64 * 188];

  PackedUTF8 pair(std::uint8_t lead, std::uint8_t trail) const noexcept {
    return characters[start[lead] + column[trail]];
  }
};

// Where the characters of a 64-byte block's pairs are in `characters`, for a
// lead at every byte: at[k] for a lead at byte k (its trail the byte after,
// the next block's first for byte 63). The 64 entries past the block's stay
// 0, so that 32 lookups from any lead, two entries apart, stay in the table.
struct BlockPairIndexes {
  alignas(32) std::uint16_t at[128] = {};
};

// Built on first use from the generated table.
const ShiftJISTables& shiftJISTables() noexcept;

}  // namespace codepage_guess
}  // namespace my
