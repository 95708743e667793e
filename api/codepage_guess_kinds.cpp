// The kinds: cpg_describe and the classifier stream.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "api/rule_of.hpp"
#include "codepage_guess.h"
#include "encoding/candidates.hpp"
#include "encoding/kinds.hpp"

namespace {

constexpr std::uint32_t kFirstDescriptionSize = 64;
static_assert(sizeof(cpg_description) == kFirstDescriptionSize &&
              offsetof(cpg_description, examined) == 32 && offsetof(cpg_description, score) == 56);

static_assert(static_cast<int>(my::Kind::Empty) == CPG_KIND_EMPTY &&
              static_cast<int>(my::Kind::ShiftJIS) == CPG_KIND_SHIFT_JIS &&
              static_cast<int>(my::Kind::Mixed) == CPG_KIND_MIXED &&
              static_cast<int>(my::Kind::Unknown) == CPG_KIND_UNKNOWN);

// Fills the caller's structure with what fits in its size.
void answer(const my::Description& d, std::uint64_t examined, cpg_description& out) noexcept {
  cpg_description found{};
  found.flags = out.flags;
  found.kind = static_cast<std::uint32_t>(d.kind);
  found.code_page = my::codePageOf(d.decision.verdict);
  found.rule = static_cast<std::uint32_t>(api::ruleOf(d.decision.rule));
  found.bom = d.bom ? 1 : 0;
  found.ambiguous = d.ambiguous ? 1 : 0;
  found.examined = examined;
  found.utf8_line = d.utf8Line;
  found.sjis_line = d.sjisLine;
  found.score = d.score;
  found.size = std::min<std::uint32_t>(out.size, sizeof found);
  std::memcpy(&out, &found, found.size);
}

}  // namespace

// The classifier, and the first bytes for the verdict.
struct cpg_classifier {
  my::Classifier classifier;
  std::unique_ptr<std::uint8_t[]> first;
  std::uint32_t kept = 0;
};

extern "C" {

const char* cpg_kind_name(int kind) {
  if (kind < CPG_KIND_EMPTY || kind > CPG_KIND_UNKNOWN) return nullptr;
  return my::kindName(static_cast<my::Kind>(kind));
}

cpg_status cpg_describe(const void* data, size_t size, cpg_description* description) {
  if (description == nullptr || description->size < kFirstDescriptionSize)
    return CPG_ERROR_INVALID_ARGUMENT;
  const std::uint32_t length =
      data == nullptr ? 0 : static_cast<std::uint32_t>(std::min<size_t>(size, CPG_INPUT_LIMIT));
  const bool whole = (description->flags & CPG_DESCRIBE_START_ONLY) == 0 && length == size;
  const bool japanese = (description->flags & CPG_DESCRIBE_JAPANESE) != 0;
  answer(my::describe(static_cast<const std::uint8_t*>(data), length,
                      whole ? my::Extent::Whole : my::Extent::Start, japanese),
         length, *description);
  return CPG_OK;
}

cpg_classifier* cpg_classifier_new(void) {
  std::unique_ptr<cpg_classifier> classifier(new (std::nothrow) cpg_classifier);
  if (classifier == nullptr) return nullptr;
  classifier->first.reset(new (std::nothrow) std::uint8_t[CPG_INPUT_LIMIT]);
  return classifier->first == nullptr ? nullptr : classifier.release();
}

void cpg_classifier_feed(cpg_classifier* classifier, const void* data, size_t size) {
  if (classifier == nullptr || data == nullptr) return;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const std::size_t taken = std::min<std::size_t>(size, CPG_INPUT_LIMIT - classifier->kept);
  std::memcpy(classifier->first.get() + classifier->kept, bytes, taken);
  classifier->kept += static_cast<std::uint32_t>(taken);
  classifier->classifier.feed(bytes, size);
}

cpg_status cpg_classifier_finish(const cpg_classifier* classifier, cpg_description* description) {
  if (classifier == nullptr || description == nullptr || description->size < kFirstDescriptionSize)
    return CPG_ERROR_INVALID_ARGUMENT;
  const bool whole = (description->flags & CPG_DESCRIBE_START_ONLY) == 0;
  my::Description found =
      classifier->classifier.finish(whole, (description->flags & CPG_DESCRIBE_JAPANESE) != 0);
  found.decision =
      my::decideEncoding(my::candidateEncodings(), classifier->first.get(), classifier->kept);
  answer(found, classifier->classifier.bytesFed(), *description);
  return CPG_OK;
}

void cpg_classifier_free(cpg_classifier* classifier) {
  delete classifier;
}

}  // extern "C"
