#pragma once

#include <array>
#include <cstddef>

#include "encoding/encoding_name.hpp"

namespace my {
inline namespace codepage_guess {

// The two encodings the tool and the library tell apart, examined in this
// order (a tie goes to the earlier one), with the code page each is reported
// as.
struct Candidate {
  const char* name;
  Encoding encoding;  // what `name` stands for
  int codePage;
};

inline constexpr std::array<Candidate, 2> kCandidates{{
    {"utf8", Encoding::UTF8, 65001},
    {"sjis", Encoding::SJIS, 932},
}};

constexpr std::array<const char*, kCandidates.size()> candidateNames() noexcept {
  std::array<const char*, kCandidates.size()> names{};
  for (std::size_t i = 0; i < kCandidates.size(); ++i)
    names[i] = kCandidates[i].name;
  return names;
}

constexpr std::array<Encoding, kCandidates.size()> candidateEncodings() noexcept {
  std::array<Encoding, kCandidates.size()> encodings{};
  for (std::size_t i = 0; i < kCandidates.size(); ++i)
    encodings[i] = kCandidates[i].encoding;
  return encodings;
}

// The code page of a verdict on the candidates, 0 for undecided.
constexpr int codePageOf(std::size_t verdict) noexcept {
  return verdict < kCandidates.size() ? kCandidates[verdict].codePage : 0;
}

}  // namespace codepage_guess
}  // namespace my
