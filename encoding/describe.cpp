#include "encoding/candidates.hpp"
#include "encoding/kinds.hpp"

namespace my {
inline namespace codepage_guess {

Description describe(const std::uint8_t* data, std::uint32_t length, Extent extent) noexcept {
  Classifier classifier;
  classifier.feed(data, length);
  Description description = classifier.finish(extent == Extent::Whole);
  description.decision = decideEncoding(candidateEncodings(), data, length);
  return description;
}

}  // namespace codepage_guess
}  // namespace my
