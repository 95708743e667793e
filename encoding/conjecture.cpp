#include "encoding/conjecture.hpp"

#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "encoding/char_digester.hpp"
#include "encoding/encoding_name.hpp"
#include "encoding/kernels.hpp"
#include "encoding/profiles.hpp"

namespace my {

const double* referenceProfile(const char* name) {
  if (std::strcmp(name, "sjis") == 0) return ProfileSJIS;
  if (std::strcmp(name, "utf8") == 0) return ProfileUTF8;
  throw std::runtime_error(std::string("no such encoding: ") + name);
}

// The summation order is fixed (ascending byte value) and the histogram is
// scaled by the reciprocal of its length, so the score is the same on every
// platform; the build keeps the compiler from fusing the multiply-adds.
double cosineSimilarity(const std::uint32_t* histogram, const double* profile) {
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

double scoreOf(const std::uint32_t* histogram, const char* name) {
  return cosineSimilarity(histogram, referenceProfile(name));
}

// The best positive score wins, a tie going to the earlier candidate;
// `count` when no score is above zero.
std::size_t bestPositive(const std::vector<double>& scores) {
  std::size_t best = 0;
  for (std::size_t j = 1; j < scores.size(); ++j) {
    if (scores[j] > scores[best]) best = j;
  }
  return !scores.empty() && scores[best] > 0.0 ? best : scores.size();
}

}  // namespace

// Most files are valid in exactly one candidate, and the other usually fails
// within its first bytes; then the validity checks decide and no histogram is
// built. Otherwise both histograms come from one block-parallel pass.
std::size_t detail::conjectureEncoding(const char* const* names, std::size_t count,
                                       const std::uint8_t* data, std::uint32_t length) {
  std::vector<Encoding> encodings;
  encodings.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    encodings.push_back(encodingNamed(names[i]));

  const Kernels& kernels = selectedKernels();
  std::size_t errorFreeCount = 0;
  std::size_t errorFree = count;
  for (std::size_t i = 0; i < count; ++i) {
    const bool free = encodings[i] == Encoding::UTF8 ? kernels.isErrorFreeUTF8(data, length)
                                                     : kernels.isErrorFreeSJIS(data, length);
    if (free) {
      ++errorFreeCount;
      errorFree = i;
    }
  }
  if (errorFreeCount == 1) return errorFree;

  CharacterCounts counts;
  kernels.countCharacters(data, length, counts);
  std::vector<double> scores;
  scores.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    scores.push_back(scoreOf(encodings[i] == Encoding::UTF8 ? counts.utf8 : counts.sjis, names[i]));
  return bestPositive(scores);
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
  std::vector<double> scores;
  for (std::size_t i = 0; i < count; ++i) {
    scores.push_back(scoreOf(digesters[i]->histogram(), names[i]));
    explanation.candidates.push_back({digesters[i]->errorCount(), scores.back()});
  }
  if (errorFreeCount == 1) {
    explanation.verdict = errorFree;
    explanation.rule = Explanation::Rule::OnlyErrorFree;
  } else {
    explanation.verdict = bestPositive(scores);
    if (explanation.verdict < count) explanation.rule = Explanation::Rule::BestScore;
  }
  return explanation;
}

}  // namespace my
