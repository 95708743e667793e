#pragma once

#include <cstdint>

namespace my {

// UTF-8 byte counter. Deliberately lenient: surrogates, code points above
// U+10FFFF and the old 5- and 6-byte forms pass; only the shape of a sequence
// and overlong second bytes are checked.
struct CounterUTF8 {
  std::uint32_t counts[256] = {};
  std::uint32_t errors = 0;
  std::uint8_t seq[6] = {};
  std::uint8_t expected = 0;
  std::uint8_t filled = 0;  // 0: idle

  // Sequence length announced by a lead byte; 0 for bytes that cannot lead.
  static constexpr std::uint8_t sequenceLength(std::uint8_t lead) noexcept {
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    if ((lead & 0xFC) == 0xF8) return 5;
    if ((lead & 0xFE) == 0xFC) return 6;
    return 0;
  }

  // The shortest-form test, made on the second byte of a sequence only.
  static constexpr bool isShortestForm(std::uint8_t lead, std::uint8_t second,
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

  void step(std::uint8_t b) noexcept {
    if (filled == 0) {
      if (b < 0x80) return;
      const std::uint8_t length = sequenceLength(b);
      if (length == 0) {
        ++errors;
        return;
      }
      seq[0] = b;
      expected = length;
      filled = 1;
      return;
    }
    const bool accepted = (b & 0xC0) == 0x80 && (filled > 1 || isShortestForm(seq[0], b, expected));
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

  void clearPending() noexcept { filled = 0; }
};

}  // namespace my
