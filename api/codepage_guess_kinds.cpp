// The kinds: cpg_describe and the classifier stream.
#include <algorithm>
#include <cstddef>
#include <cstring>
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

struct cpg_classifier {
  my::Classifier classifier;
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
  answer(my::describe(static_cast<const std::uint8_t*>(data), length,
                      whole ? my::Extent::Whole : my::Extent::Start),
         length, *description);
  return CPG_OK;
}

cpg_classifier* cpg_classifier_new(void) {
  return new (std::nothrow) cpg_classifier;
}

void cpg_classifier_feed(cpg_classifier* classifier, const void* data, size_t size) {
  if (classifier == nullptr || data == nullptr) return;
  classifier->classifier.feed(static_cast<const std::uint8_t*>(data), size);
}

cpg_status cpg_classifier_finish(const cpg_classifier* classifier, cpg_description* description) {
  if (classifier == nullptr || description == nullptr || description->size < kFirstDescriptionSize)
    return CPG_ERROR_INVALID_ARGUMENT;
  const bool whole = (description->flags & CPG_DESCRIBE_START_ONLY) == 0;
  answer(classifier->classifier.finish(whole), classifier->classifier.bytesFed(), *description);
  return CPG_OK;
}

void cpg_classifier_free(cpg_classifier* classifier) {
  delete classifier;
}

}  // extern "C"
