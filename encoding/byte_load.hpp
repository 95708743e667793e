#pragma once

#include <cstdint>
#include <cstring>

namespace my {
inline namespace codepage_guess {
// Internal linkage: the kernels of each instruction set include this, and an
// inline function left out of line there must not serve the other callers.
namespace {  // NOLINT(cert-dcl59-cpp,google-build-namespaces)

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

// Four bytes to any address, the lowest bits first.
inline void storeLittleEndian32(std::uint8_t* p, std::uint32_t word) noexcept {
#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__) && \
    __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<std::uint8_t>(word >> (8 * i));
#else
  std::memcpy(p, &word, sizeof word);
#endif
}

// Eight bytes to any address, the lowest bits first.
inline void storeLittleEndian64(std::uint8_t* p, std::uint64_t word) noexcept {
#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__) && \
    __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  for (int i = 0; i < 8; ++i)
    p[i] = static_cast<std::uint8_t>(word >> (8 * i));
#else
  std::memcpy(p, &word, sizeof word);
#endif
}

}  // namespace
}  // namespace codepage_guess
}  // namespace my
