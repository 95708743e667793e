#pragma once

#include <cstdint>
#include <cstring>

namespace my {
inline namespace codepage_guess {

// Eight bytes from any address, the first in the lowest bits.
inline std::uint64_t loadLittleEndian64(const std::uint8_t* p) noexcept {
#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__) && \
    __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  std::uint64_t word = 0;
  for (int i = 7; i >= 0; --i)
    word = (word << 8) | p[i];
  return word;
#else
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
#endif
}

}  // namespace codepage_guess
}  // namespace my
