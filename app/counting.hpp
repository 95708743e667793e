#pragma once

#include <cstdint>

#include "encoding/kernels.hpp"

namespace app {

// Both histograms of an input the validators leave undecided, as the kernels
// count them in one pass: for a long input, on two threads when the process
// may run on two processors, the input cut into pieces that each thread takes
// in turn.
void countCharacters(const std::uint8_t* data, std::uint32_t length,
                     my::CharacterCounts& counts) noexcept;

// The same in pieces of about `pieceLength` bytes (each ends at a place where
// the counters are idle, my::idleCountersAfter), counted by the caller's
// thread and a helper (if one can be started) as each comes to ask.
void countCharactersInPieces(const std::uint8_t* data, std::uint32_t length,
                             std::uint32_t pieceLength, my::CharacterCounts& counts) noexcept;

}  // namespace app
