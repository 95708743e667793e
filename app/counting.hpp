#pragma once

#include <cstdint>

#include "encoding/kernels.hpp"

namespace app {

// Both histograms of an input the validators leave undecided, as the kernels
// count them in one pass: for a long input, on two threads when the process
// may run on two processors, the part after an idle place in the middle on a
// thread of its own.
void countCharacters(const std::uint8_t* data, std::uint32_t length,
                     my::CharacterCounts& counts) noexcept;

// The same from the bytes before `split` and those from it, the second part on
// a thread of its own (the caller's, if none can be started). `split` must be
// a place where the counters are idle (my::idleCountersAfter).
void countCharactersSplitAt(const std::uint8_t* data, std::uint32_t length, std::uint32_t split,
                            my::CharacterCounts& counts) noexcept;

}  // namespace app
