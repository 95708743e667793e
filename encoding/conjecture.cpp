#include "encoding/conjecture.hpp"

#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "encoding/char_digester.hpp"
#include "encoding/kernels.hpp"
#include "encoding/profiles.hpp"

namespace my {
inline namespace codepage_guess {

const double* referenceProfile(const char* name) {
  if (std::strcmp(name, "sjis") == 0) return ProfileSJIS;
  if (std::strcmp(name, "utf8") == 0) return ProfileUTF8;
  throw std::runtime_error(std::string("no such encoding: ") + name);
}

// The summation order is fixed (ascending byte value) and the histogram is
// scaled by the reciprocal of its length, so the score is the same on every
// platform; the build keeps the compiler from fusing the multiply-adds.
double cosineSimilarity(const std::uint32_t* histogram, const double* profile) noexcept {
  double sumOfSquares = 0.0;
  for (int k = 0; k < 256; ++k) {
    const double count = static_cast<double>(histogram[k]);
    sumOfSquares += count * count;
  }
  if (!(sumOfSquares > 0.0)) return 0.0;
  const double reciprocalLength = 1.0 / std::sqrt(sumOfSquares);
  double score = 0.0;
  for (int k = 0; k < 256; ++k) {
    const double unit = static_cast<double>(histogram[k]) * reciprocalLength;
    score += profile[k] * unit;
  }
  return score;
}

namespace {

const double* profileOf(Encoding encoding) noexcept {
  return encoding == Encoding::UTF8 ? ProfileUTF8 : ProfileSJIS;
}

// The best positive score wins, a tie going to the earlier candidate: the
// candidates are offered in order.
class BestScore {
 public:
  void offer(std::size_t candidate, double score) noexcept {
    if (score > best_) {
      winner_ = candidate;
      best_ = score;
    }
  }
  // The winner, or `count` when no score is above zero.
  std::size_t winner(std::size_t count) const noexcept { return best_ > 0.0 ? winner_ : count; }

 private:
  std::size_t winner_ = 0;
  double best_ = -1.0;  // below every cosine of two non-negative vectors
};

}  // namespace

// Most files are valid in exactly one candidate, and the other usually fails
// within its first bytes; then the validity checks decide and no histogram is
// built. Otherwise both histograms come from one block-parallel pass.
Decision detail::conjecture(const Encoding* encodings, std::size_t count, const std::uint8_t* data,
                            std::uint32_t length, CountCharacters countCharacters) noexcept {
  const Kernels& kernels = selectedKernels();
  unsigned freeBits = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const bool free = encodings[i] == Encoding::UTF8 ? kernels.isErrorFreeUTF8(data, length)
                                                     : kernels.isErrorFreeSJIS(data, length);
    freeBits |= (free ? 1u : 0u) << i;
  }
  return decideByValidity(encodings, count, data, length, freeBits, countCharacters);
}

// A single error-free candidate wins; otherwise the histograms decide.
Decision detail::decideByValidity(const Encoding* encodings, std::size_t count,
                                  const std::uint8_t* data, std::uint32_t length, unsigned freeBits,
                                  CountCharacters countCharacters) noexcept {
  if (freeBits != 0 && (freeBits & (freeBits - 1)) == 0) {
    std::size_t only = 0;
    while ((freeBits >> only) != 1)
      ++only;
    return {only, Rule::OnlyErrorFree, freeBits};
  }
  if (countCharacters == nullptr) countCharacters = selectedKernels().countCharacters;
  CharacterCounts counts;
  countCharacters(data, length, counts);
  BestScore best;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t* histogram = encodings[i] == Encoding::UTF8 ? counts.utf8 : counts.sjis;
    best.offer(i, cosineSimilarity(histogram, profileOf(encodings[i])));
  }
  const std::size_t verdict = best.winner(count);
  return {verdict, verdict < count ? Rule::BestScore : Rule::Undecided, freeBits};
}

// Every candidate's digester walks the whole input before anything is decided.
Explanation detail::explainByDigesters(const char* const* names, std::size_t count,
                                       const std::uint8_t* data, std::uint32_t length) {
  std::vector<std::unique_ptr<CharDigester>> digesters;
  digesters.reserve(count);
  std::size_t errorFreeCount = 0;
  std::size_t errorFree = count;
  for (std::size_t i = 0; i < count; ++i) {
    digesters.push_back(createDigester(names[i]));
    digesters[i]->digest(data, length);
    if (digesters[i]->errorCount() == 0) {
      ++errorFreeCount;
      errorFree = i;
    }
  }

  Explanation explanation{count, Explanation::Rule::Undecided, {}};
  BestScore best;
  for (std::size_t i = 0; i < count; ++i) {
    const double score = cosineSimilarity(digesters[i]->histogram(), referenceProfile(names[i]));
    best.offer(i, score);
    explanation.candidates.push_back({digesters[i]->errorCount(), score});
  }
  if (errorFreeCount == 1) {
    explanation.verdict = errorFree;
    explanation.rule = Explanation::Rule::OnlyErrorFree;
  } else {
    explanation.verdict = best.winner(count);
    if (explanation.verdict < count) explanation.rule = Explanation::Rule::BestScore;
  }
  return explanation;
}

}  // namespace codepage_guess
}  // namespace my
