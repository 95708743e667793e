#pragma once

// Lines of text as the classification reads them: a line ends with its
// newline, which belongs to it.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "encoding/ascii_run.hpp"
#include "encoding/kinds.hpp"

namespace my {
inline namespace codepage_guess {
namespace lines {
// Internal linkage: the vector kernels read lines too, and a copy compiled for
// AVX2 must never be the one a plain x86-64 caller links to.
namespace {  // NOLINT(cert-dcl59-cpp,google-build-namespaces)

inline std::uint64_t numberAt(const std::uint8_t* data, std::uint32_t at) noexcept {
  return 1 + countNewlines(data, at);
}

// The start of the line that holds the byte at `at`.
inline std::uint32_t startOf(const std::uint8_t* data, std::uint32_t at) noexcept {
  while (at > 0 && data[at - 1] != '\n')
    --at;
  return at;
}

// The end of the line that holds the byte at `start`: just past its newline,
// or `length`.
inline std::uint32_t endOf(const std::uint8_t* data, std::uint32_t length,
                           std::uint32_t start) noexcept {
  const void* newline = std::memchr(data + start, '\n', length - start);
  return newline == nullptr
             ? length
             : static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(newline) - data) + 1;
}

// Whether the line [start, end) is well-formed UTF-8 with a byte from 80 up;
// `cutAllowed`: a character cut by its end is no error.
inline bool isUTF8(const std::uint8_t* data, std::uint32_t start, std::uint32_t end,
                   bool cutAllowed) noexcept {
  Classifier::StrictUTF8 utf8;
  bool high = false;
  for (std::uint32_t i = start; i < end; ++i) {
    if (!utf8.step(data[i])) return false;
    high = high || data[i] >= 0x80;
  }
  return high && (utf8.need == 0 || cutAllowed);
}

}  // namespace

struct FirstLines {
  std::uint64_t utf8 = 0, sjis = 0;  // line numbers from 1; 0 where there is none
};

// In bytes that are Shift_JIS as a whole: the first line that is UTF-8,
// looked for from `candidate`, the first line the kernels' line finder offers
// (`length`: none is wanted), and the first that holds a byte from 80 up and
// is not. `whole`: a character cut by the end is an error.
FirstLines firstLinesOfShiftJIS(const std::uint8_t* data, std::uint32_t length, bool whole,
                                std::uint32_t candidate, bool wantSJIS) noexcept;

}  // namespace lines
}  // namespace codepage_guess
}  // namespace my
