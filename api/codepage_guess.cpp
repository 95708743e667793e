// The C interface. The decision itself neither allocates nor throws; only an
// explanation allocates (it takes the long way, through the digesters), and
// running out of memory there is its one failure.
#include "codepage_guess.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "api/rule_of.hpp"
#include "encoding/candidates.hpp"
#include "encoding/conjecture.hpp"

namespace {

static_assert(my::codePageOf(0) == CPG_UTF8 && my::codePageOf(1) == CPG_SHIFT_JIS &&
              my::codePageOf(2) == CPG_UNDECIDED);

std::uint32_t examined(const void* data, std::size_t size) noexcept {
  if (data == nullptr) return 0;
  return static_cast<std::uint32_t>(size < CPG_INPUT_LIMIT ? size : CPG_INPUT_LIMIT);
}

my::Decision decide(const std::uint8_t* data, std::uint32_t length) noexcept {
  return my::decideEncoding(my::candidateEncodings(), data, length);
}

int guess(const std::uint8_t* data, std::uint32_t length) noexcept {
  return my::codePageOf(decide(data, length).verdict);
}

// The layout programs are built against, for good: later versions only add
// fields at the end.
constexpr std::uint32_t kFirstExplanationSize = 48;
static_assert(sizeof(cpg_candidate) == 16 && offsetof(cpg_candidate, score) == 8);
static_assert(sizeof(cpg_explanation) == kFirstExplanationSize &&
              offsetof(cpg_explanation, examined) == 12 &&
              offsetof(cpg_explanation, candidates) == 16);

// Only an allocation can fail: the names are the library's own.
cpg_status explain(const std::uint8_t* data, std::uint32_t length,
                   cpg_explanation& explanation) noexcept {
  try {
    const my::Explanation found = my::explainByDigesters(my::candidateNames(), data, length);
    explanation.code_page = my::codePageOf(found.verdict);
    explanation.rule = static_cast<std::uint32_t>(api::ruleOf(found.rule));
    explanation.examined = length;
    for (std::size_t i = 0; i < my::kCandidates.size(); ++i) {
      explanation.candidates[i].code_page = my::kCandidates[i].codePage;
      explanation.candidates[i].errors = found.candidates[i].errors;
      explanation.candidates[i].score = found.candidates[i].score;
    }
    return CPG_OK;
  } catch (const std::bad_alloc&) {
    return CPG_ERROR_OUT_OF_MEMORY;
  }
}

}  // namespace

struct cpg_stream {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::uint32_t size = 0;
};

extern "C" {

const char* cpg_version(void) {
  return CPG_VERSION_STRING;
}

int cpg_guess(const void* data, size_t size) {
  return guess(static_cast<const std::uint8_t*>(data), examined(data, size));
}

int cpg_guess_rule(const void* data, size_t size, cpg_rule* rule) {
  const my::Decision decision =
      decide(static_cast<const std::uint8_t*>(data), examined(data, size));
  if (rule != nullptr) *rule = api::ruleOf(decision.rule);
  return my::codePageOf(decision.verdict);
}

cpg_stream* cpg_stream_new(void) {
  std::unique_ptr<cpg_stream> stream(new (std::nothrow) cpg_stream);
  if (stream == nullptr) return nullptr;
  stream->bytes.reset(new (std::nothrow) std::uint8_t[CPG_INPUT_LIMIT]);
  return stream->bytes == nullptr ? nullptr : stream.release();
}

void cpg_stream_feed(cpg_stream* stream, const void* data, size_t size) {
  if (stream == nullptr || data == nullptr) return;
  const std::size_t room = CPG_INPUT_LIMIT - stream->size;
  const std::size_t taken = size < room ? size : room;
  if (taken == 0) return;
  std::memcpy(stream->bytes.get() + stream->size, data, taken);
  stream->size += static_cast<std::uint32_t>(taken);
}

int cpg_stream_finish(const cpg_stream* stream) {
  if (stream == nullptr) return CPG_UNDECIDED;
  return guess(stream->bytes.get(), stream->size);
}

void cpg_stream_free(cpg_stream* stream) {
  delete stream;
}

cpg_status cpg_explain(const void* data, size_t size, cpg_explanation* explanation) {
  if (explanation == nullptr || explanation->size < kFirstExplanationSize)
    return CPG_ERROR_INVALID_ARGUMENT;
  cpg_explanation found{};
  const cpg_status status =
      explain(static_cast<const std::uint8_t*>(data), examined(data, size), found);
  if (status != CPG_OK) return status;
  // A caller built against an older header gets the fields it knows of.
  found.size = std::min<std::uint32_t>(explanation->size, sizeof found);
  std::memcpy(explanation, &found, found.size);
  return CPG_OK;
}

}  // extern "C"
