#pragma once

#include <cstdint>
#include <vector>

namespace my {
inline namespace codepage_guess {

// What each counter would have counted, had it read the whole input.
struct CharacterCounts {
  std::uint32_t utf8[256];
  std::uint32_t sjis[256];
};

// One instruction set's versions of the block-parallel routines. Each gives
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
};

// The fastest kernels this processor runs, chosen once per process.
const Kernels& selectedKernels() noexcept;

// Every set of kernels this processor runs, widest first: what tests compare.
std::vector<const Kernels*> runnableKernels();

}  // namespace codepage_guess
}  // namespace my
