#pragma once

#include <cstdint>

#include "encoding/ascii_run.hpp"

namespace my {
inline namespace codepage_guess {

// Shift_JIS byte counter: double-byte characters and half-width katakana.
struct CounterSJIS {
  std::uint32_t counts[256] = {};
  std::uint32_t errors = 0;
  std::uint8_t lead = 0;  // 0: no lead pending (no lead byte is 0)

  static constexpr bool isLead(std::uint8_t b) noexcept {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  }
  static constexpr bool isTrail(std::uint8_t b) noexcept {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
  }
  static constexpr bool isHalfWidthKatakana(std::uint8_t b) noexcept {
    return b >= 0xA1 && b <= 0xDF;
  }

  void step(std::uint8_t b) noexcept {
    if (lead != 0) {
      if (isTrail(b)) {
        ++counts[lead];
        ++counts[b];
        lead = 0;
        return;
      }
      // A failed trail is an error, and the byte is then looked at afresh.
      ++errors;
    }
    if (isLead(b)) {
      lead = b;
      return;
    }
    lead = 0;
    if (isHalfWidthKatakana(b)) {
      ++counts[b];
    } else if (b >= 0x80) {  // 0x80, 0xA0, 0xFD-0xFF
      ++errors;
    }
  }

  // The same counts and errors as step() on each byte in turn, a pair at a time.
  void digest(const std::uint8_t* data, std::uint32_t length) noexcept {
    std::uint32_t i = 0;
    if (lead != 0 && length != 0) step(data[i++]);
    while (i < length) {
      const std::uint8_t b = data[i];
      if (b < 0x80) {
        i = skipAscii(data, i, length);
      } else if (isLead(b)) {
        if (length - i < 2) {
          lead = b;
          return;
        }
        const std::uint8_t trail = data[i + 1];
        if (isTrail(trail)) {
          ++counts[b];
          ++counts[trail];
          i += 2;
        } else {
          ++errors;  // the trail is looked at afresh
          ++i;
        }
      } else {
        if (isHalfWidthKatakana(b))
          ++counts[b];
        else
          ++errors;
        ++i;
      }
    }
  }

  void clearPending() noexcept { lead = 0; }
};

}  // namespace codepage_guess
}  // namespace my
