#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "encoding/encoding_name.hpp"

namespace my {
inline namespace codepage_guess {

// The 256-value profile of "sjis" or "utf8" (matched exactly); throws
// std::runtime_error("no such encoding: " + name) for any other name.
const double* referenceProfile(const char* name);

// Cosine of the angle between a byte histogram and a unit-length profile; 0
// for an empty histogram.
double cosineSimilarity(const std::uint32_t* histogram, const double* profile) noexcept;

// Which rule reached a verdict: the single error-free candidate, the best
// positive score, or neither (undecided).
enum class Rule { OnlyErrorFree, BestScore, Undecided };

// A verdict and the rule that reached it.
struct Decision {
  std::size_t verdict;  // an index into the candidates, or their number
  Rule rule;
  unsigned errorFree = 0;  // bit i set when candidate i met no error
};

// How the full reading came to its verdict.
struct Explanation {
  using Rule = my::Rule;
  struct Candidate {
    std::uint32_t errors;  // error bytes the candidate's digester met
    double score;          // cosine with its profile, worked out even where unused
  };
  std::size_t verdict;  // an index into the candidates, or their number
  Rule rule;
  std::vector<Candidate> candidates;
};

struct CharacterCounts;

// Counts both histograms of an input that the validators leave undecided, as
// the kernels' countCharacters() does. A decision takes the selected kernels'
// on the caller's thread unless it is given another way to the same counts.
using CountCharacters = void (*)(const std::uint8_t* data, std::uint32_t length,
                                 CharacterCounts& counts) noexcept;

namespace detail {
Decision conjecture(const Encoding* encodings, std::size_t count, const std::uint8_t* data,
                    std::uint32_t length, CountCharacters countCharacters = nullptr) noexcept;
Decision decideByValidity(const Encoding* encodings, std::size_t count, const std::uint8_t* data,
                          std::uint32_t length, unsigned errorFree,
                          CountCharacters countCharacters = nullptr) noexcept;
Explanation explainByDigesters(const char* const* names, std::size_t count,
                               const std::uint8_t* data, std::uint32_t length);
}  // namespace detail

// Returns the index of the candidate encoding the bytes are most likely written
// in, or N when undecided. A single error-free candidate wins outright;
// otherwise the best positive cosine score wins, ties going to the earlier name.
// Throws std::runtime_error("No such encoding: " + name) for an unknown name.
// `countCharacters`, where given, counts the histograms instead of the kernels.
template <std::size_t N>
std::size_t conjectureEncoding(const std::array<const char*, N>& names, const std::uint8_t* data,
                               std::uint32_t length, CountCharacters countCharacters = nullptr) {
  std::array<Encoding, N> encodings{};
  for (std::size_t i = 0; i < N; ++i)
    encodings[i] = encodingNamed(names[i]);
  return detail::conjecture(encodings.data(), N, data, length, countCharacters).verdict;
}

// The same for encodings already named, with the rule that decided: it
// neither allocates nor fails.
template <std::size_t N>
Decision decideEncoding(const std::array<Encoding, N>& encodings, const std::uint8_t* data,
                        std::uint32_t length) noexcept {
  return detail::conjecture(encodings.data(), N, data, length);
}

// The same, for a caller that has already run the validators: bit i of
// `errorFree` is set when candidate i meets no error in the bytes.
template <std::size_t N>
Decision decideEncoding(const std::array<Encoding, N>& encodings, const std::uint8_t* data,
                        std::uint32_t length, unsigned errorFree) noexcept {
  return detail::decideByValidity(encodings.data(), N, data, length, errorFree);
}

// The same verdict the long way: every candidate's digester reads every byte,
// then the error counts and, if they do not decide, the histograms do. What
// conjectureEncoding is checked against.
template <std::size_t N>
std::size_t conjectureByDigesters(const std::array<const char*, N>& names, const std::uint8_t* data,
                                  std::uint32_t length) {
  return detail::explainByDigesters(names.data(), N, data, length).verdict;
}

// The full reading with what it found along the way: each candidate's error
// count and score, and which rule decided.
template <std::size_t N>
Explanation explainByDigesters(const std::array<const char*, N>& names, const std::uint8_t* data,
                               std::uint32_t length) {
  return detail::explainByDigesters(names.data(), N, data, length);
}

}  // namespace codepage_guess
}  // namespace my
