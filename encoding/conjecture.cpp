#include "encoding/conjecture.hpp"

#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "encoding/char_digester.hpp"
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

std::size_t detail::conjectureEncoding(const char* const* names, std::size_t count,
                                       const std::uint8_t* data, std::uint32_t length) {
  // Every candidate walks the whole input before anything is decided.
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
  if (count == 0) return count;

  std::size_t best = 0;
  double bestScore = 0.0;
  for (std::size_t j = 0; j < count; ++j) {
    const double score = cosineSimilarity(digesters[j]->histogram(), referenceProfile(names[j]));
    if (j == 0 || score > bestScore) {
      best = j;
      bestScore = score;
    }
  }
  return bestScore > 0.0 ? best : count;
}

}  // namespace my
