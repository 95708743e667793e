#pragma once

#include <cstddef>

namespace app {

// Prints "code.page=N" for a candidate's index, nothing for
// my::kCandidates.size() (undecided). Throws std::runtime_error when the line
// cannot be written.
void reportVerdict(std::size_t verdict);

}  // namespace app
