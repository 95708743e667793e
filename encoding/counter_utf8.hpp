#pragma once

#include <array>
#include <cstdint>

#include "encoding/ascii_run.hpp"
#include "encoding/byte_load.hpp"

namespace my {
inline namespace codepage_guess {

namespace utf8 {

// Sequence length announced by a lead byte; 0 for bytes that cannot lead.
constexpr std::uint8_t sequenceLength(std::uint8_t lead) noexcept {
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  if ((lead & 0xFC) == 0xF8) return 5;
  if ((lead & 0xFE) == 0xFC) return 6;
  return 0;
}

// The shortest-form test, made on the second byte of a sequence only.
constexpr bool isShortestForm(std::uint8_t lead, std::uint8_t second,
                              std::uint8_t length) noexcept {
  switch (length) {
    case 2:
      return (lead & 0x1E) != 0;
    case 3:
      return ((second & 0x20) | (lead & 0x0F)) != 0;
    case 4:
      return ((second & 0x30) | (lead & 0x07)) != 0;
    case 5:
      return ((second & 0x38) | (lead & 0x03)) != 0;
    default:
      return ((second & 0x3C) | (lead & 0x01)) != 0;
  }
}

// Per lead byte: the sequence length in the low bits, and kCheckSecond when the
// lead alone does not prove the shortest form (0xC0, 0xC1, 0xE0, 0xF0, ...).
inline constexpr std::uint8_t kCheckSecond = 0x80;
inline constexpr std::uint8_t kLengthBits = 0x07;

constexpr std::array<std::uint8_t, 256> makeLeadTable() noexcept {
  std::array<std::uint8_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    const auto lead = static_cast<std::uint8_t>(b);
    const std::uint8_t length = sequenceLength(lead);
    const bool leadProvesIt = length != 0 && isShortestForm(lead, 0x80, length);
    table[b] =
        static_cast<std::uint8_t>(length | (length != 0 && !leadProvesIt ? kCheckSecond : 0));
  }
  return table;
}

inline constexpr std::array<std::uint8_t, 256> kLeadTable = makeLeadTable();

}  // namespace utf8

// UTF-8 byte counter. Deliberately lenient: surrogates, code points above
// U+10FFFF and the old 5- and 6-byte forms pass; only the shape of a sequence
// and overlong second bytes are checked.
struct CounterUTF8 {
  std::uint32_t counts[256] = {};
  std::uint32_t errors = 0;
  std::uint8_t seq[6] = {};
  std::uint8_t expected = 0;
  std::uint8_t filled = 0;  // 0: idle

  void step(std::uint8_t b) noexcept {
    if (filled == 0) {
      if (b < 0x80) return;
      const std::uint8_t length = utf8::sequenceLength(b);
      if (length == 0) {
        ++errors;
        return;
      }
      seq[0] = b;
      expected = length;
      filled = 1;
      return;
    }
    const bool accepted =
        (b & 0xC0) == 0x80 && (filled > 1 || utf8::isShortestForm(seq[0], b, expected));
    if (!accepted) {
      // The offending byte is consumed, never restarted from: the whole broken
      // stretch counts as errors, an ASCII byte that ends it is dropped.
      errors += filled + (b >= 0x80 ? 1u : 0u);
      filled = 0;
      return;
    }
    seq[filled++] = b;
    if (filled == expected) {
      for (std::uint8_t i = 0; i < expected; ++i)
        ++counts[seq[i]];
      filled = 0;
    }
  }

  // The same counts and errors as step() on each byte in turn. While eight
  // bytes remain, each character or broken stretch is judged from one load;
  // the last few bytes, and a character left pending by the previous block,
  // go through step().
  void digest(const std::uint8_t* data, std::uint32_t length) noexcept {
    std::uint32_t i = 0;
    while (filled != 0 && i < length)
      step(data[i++]);
    i = digestWide(data, i, length);
    while (i < length)
      step(data[i++]);
  }

  void clearPending() noexcept { filled = 0; }

 private:
  // Starts and ends idle, with fewer than eight bytes left at the end.
  std::uint32_t digestWide(const std::uint8_t* data, std::uint32_t i,
                           std::uint32_t length) noexcept {
    while (length - i >= 8) {
      const std::uint64_t word = loadLittleEndian64(data + i);
      const auto lead = static_cast<std::uint8_t>(word);
      if (lead < 0x80) {
        const unsigned ascii = leadingAsciiBytes(word);
        i = ascii < 8 ? i + ascii : skipAscii(data, i + 8, length);
        continue;
      }
      const std::uint8_t info = utf8::kLeadTable[lead];
      const auto n = static_cast<std::uint8_t>(info & utf8::kLengthBits);
      if (n == 0) {  // a stray continuation byte, 0xFE or 0xFF
        ++errors;
        ++i;
        continue;
      }
      // Zero in the bytes that are continuation bytes.
      const std::uint64_t shape = (word & 0xC0C0C0C0C0C0C0C0ull) ^ 0x8080808080808080ull;
      if ((info & utf8::kCheckSecond) != 0 && (shape & 0xFF00) == 0 &&
          !utf8::isShortestForm(lead, static_cast<std::uint8_t>(word >> 8), n)) {
        errors += 2;  // overlong: the lead and the second byte
        i += 2;
        continue;
      }
      const std::uint64_t broken = shape & kTails[n];
      if (broken != 0) {
        // The stretch up to the first byte that is not a continuation is in
        // error; that byte is consumed with it, and counts if it is not ASCII.
        const unsigned at = lowestSetBit(broken) / 8;
        const auto offending = static_cast<std::uint8_t>(word >> (8 * at));
        errors += at + (offending >= 0x80 ? 1u : 0u);
        i += at + 1;
        continue;
      }
      if (info == 3) {
        // Japanese text is mostly three-byte characters: take two from one
        // load when the second is as plain as the first.
        const auto nextLead = static_cast<std::uint8_t>(word >> 24);
        if (utf8::kLeadTable[nextLead] == 3 && (shape & 0xFFFF00000000ull) == 0) {
          countSequence(word, 3);
          countSequence(word >> 24, 3);
          i += 6;
          continue;
        }
      }
      countSequence(word, n);
      i += n;
    }
    return i;
  }

  // The continuation bytes of an n-byte sequence within an 8-byte load.
  static constexpr std::uint64_t kTails[8] = {
      0, 0, 0xFF00, 0xFFFF00, 0xFFFFFF00, 0xFFFFFFFF00, 0xFFFFFFFFFF00, 0};

  void countSequence(std::uint64_t word, std::uint8_t n) noexcept {
    if (n == 3) {  // most of Japanese text
      ++counts[word & 0xFF];
      ++counts[(word >> 8) & 0xFF];
      ++counts[(word >> 16) & 0xFF];
      return;
    }
    switch (n) {
      case 6:
        ++counts[(word >> 40) & 0xFF];
        [[fallthrough]];
      case 5:
        ++counts[(word >> 32) & 0xFF];
        [[fallthrough]];
      case 4:
        ++counts[(word >> 24) & 0xFF];
        [[fallthrough]];
      case 3:
        ++counts[(word >> 16) & 0xFF];
        [[fallthrough]];
      default:
        ++counts[(word >> 8) & 0xFF];
        ++counts[word & 0xFF];
    }
  }
};

}  // namespace codepage_guess
}  // namespace my
