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

// The best positive score wins, a tie going to the earlier candidate;
// `count` when no score is above zero.
std::size_t decideByScores(const char* const* names, const std::uint32_t* const* histograms,
                           std::size_t count) {
  std::size_t best = 0;
  double bestScore = 0.0;
  for (std::size_t j = 0; j < count; ++j) {
    const double score = cosineSimilarity(histograms[j], referenceProfile(names[j]));
    if (j == 0 || score > bestScore) {
      best = j;
      bestScore = score;
    }
  }
  return bestScore > 0.0 ? best : count;
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
  std::vector<const std::uint32_t*> histograms;
  histograms.reserve(count);
  for (const Encoding encoding : encodings)
    histograms.push_back(encoding == Encoding::UTF8 ? counts.utf8 : counts.sjis);
  return decideByScores(names, histograms.data(), count);
}

// Every candidate's digester walks the whole input before anything is decided.
std::size_t detail::conjectureByDigesters(const char* const* names, std::size_t count,
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
  if (errorFreeCount == 1) return errorFree;

  std::vector<const std::uint32_t*> histograms;
  histograms.reserve(count);
  for (const auto& digester : digesters)
    histograms.push_back(digester->histogram());
  return decideByScores(names, histograms.data(), count);
}

}  // namespace my
