#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace my {
inline namespace codepage_guess {

struct ShiftJISTables;

// What each counter would have counted, had it read the whole input.
struct CharacterCounts {
  std::uint32_t utf8[256];
  std::uint32_t sjis[256];

  CharacterCounts& operator+=(const CharacterCounts& more) noexcept {
    for (int k = 0; k < 256; ++k) {
      utf8[k] += more.utf8[k];
      sjis[k] += more.sjis[k];
    }
    return *this;
  }
};

// The first place at or after `from`, and before `from + within`, where both
// counters are idle whatever came before: right after an ASCII byte, which
// ends any UTF-8 sequence and cannot lead in Shift_JIS (it ends a pair as its
// trail or stands alone). The counts of the bytes before such a place and of
// those after it add up to the counts of the whole. `length` when there is
// none.
inline std::uint32_t idleCountersAfter(const std::uint8_t* data, std::uint32_t length,
                                       std::uint32_t from, std::uint32_t within) noexcept {
  const std::uint32_t end = length - from > within ? from + within : length;
  for (std::uint32_t i = from; i < end; ++i) {
    if (data[i] < 0x80) return i + 1;
  }
  return length;
}

// What the strict UTF-8 check found: whether the bytes are well-formed UTF-8
// by Unicode's rules (shortest forms, no surrogates, nothing above U+10FFFF; a
// character cut by the end is no error), and, when they are, whether any byte
// is from 80 up and whether any is ESC.
struct UTF8Check {
  bool wellFormed;
  bool high;
  bool escape;
};

// Shift_JIS validity with the start of the first line that could be UTF-8,
// as nextUTF8Line() finds it (the input's length when there is none), and
// whether a line with a Shift_JIS error is no UTF-8 either: the bytes are
// read as an input's start, where a character cut by the end is no error.
struct ShiftJISLines {
  bool errorFree;
  std::uint32_t utf8Line;
  bool brokenLine;
};

// EUC-JP validity from a character's start: whether any byte breaks it, and
// whether the last character is cut short by the end (no error for the start
// of a longer input).
struct EUCJPCheck {
  bool errorFree;
  bool cutShort;
};

// One instruction set's versions of the block-parallel routines; in a build
// made small (CODEPAGE_GUESS_COMPACT, the WebAssembly modules) only the
// first four, the others null. Each gives
// exactly what the byte counters (CounterUTF8, CounterSJIS) give on the same
// input, read as a whole.
struct Kernels {
  const char* name;  // "avx2", "sse2" or "portable"
  // True when the counter would meet no error; stops at the first one.
  bool (*isErrorFreeUTF8)(const std::uint8_t* data, std::uint32_t length) noexcept;
  bool (*isErrorFreeSJIS)(const std::uint8_t* data, std::uint32_t length) noexcept;
  // Both counters' histograms from one pass.
  void (*countCharacters)(const std::uint8_t* data, std::uint32_t length,
                          CharacterCounts& counts) noexcept;
  UTF8Check (*checkUTF8Strictly)(const std::uint8_t* data, std::uint32_t length) noexcept;
  // The start of the first line at or after `from` (a line's start) that holds
  // a byte from 80 up and could be well-formed UTF-8: no continuation byte
  // after ASCII, no lead byte before anything but one. `length` when there is
  // none. Lines it passes over are not UTF-8; those it returns may not be.
  std::uint32_t (*nextUTF8Line)(const std::uint8_t* data, std::uint32_t length,
                                std::uint32_t from) noexcept;
  ShiftJISLines (*checkShiftJISLines)(const std::uint8_t* data, std::uint32_t length) noexcept;
  EUCJPCheck (*checkEUCJP)(const std::uint8_t* data, std::uint32_t length) noexcept;
  // Decodes Shift_JIS at `data`, a character's start, to UTF-8 by `tables`,
  // while each character has one (and, with `roundTrip`, encodes back to its
  // own code), and while 80 bytes of input and 211 of room are left. Returns
  // the bytes read, a character's end; `written` gets the bytes written.
  std::size_t (*decodeShiftJIS)(const ShiftJISTables& tables, const std::uint8_t* data,
                                std::size_t size, std::uint8_t* out, std::size_t room,
                                bool roundTrip, std::size_t& written) noexcept;
};

// The fastest kernels this processor runs, chosen once per process.
const Kernels& selectedKernels() noexcept;

// Every set of kernels this processor runs, widest first: what tests compare.
std::vector<const Kernels*> runnableKernels();

}  // namespace codepage_guess
}  // namespace my
