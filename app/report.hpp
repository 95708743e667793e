#pragma once

#include <array>
#include <cstddef>

namespace app {

struct Candidate {
  const char* encoding;
  int codePage;
};

// Examined in this order; a tie goes to the earlier one.
inline constexpr std::array<Candidate, 2> kCandidates{{{"utf8", 65001}, {"sjis", 932}}};

constexpr std::array<const char*, kCandidates.size()> candidateEncodings() {
  std::array<const char*, kCandidates.size()> names{};
  for (std::size_t i = 0; i < kCandidates.size(); ++i)
    names[i] = kCandidates[i].encoding;
  return names;
}

// Prints "code.page=N" for a candidate's index, nothing for kCandidates.size()
// (undecided). Throws std::runtime_error when the line cannot be written.
void reportVerdict(std::size_t verdict);

}  // namespace app
