#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "byte_script.hpp"
#include "codepage_guess.h"
#include "test_inputs.hpp"

// This program's operator new fails on request. The C interface promises that
// every failure is a return value: the decision needs no memory at all, and
// only an explanation may report that it ran out.
namespace {
std::atomic<bool> gAllocationsFail{false};
}  // namespace

// Every form, so that no allocation escapes the switch and every block goes
// back the way it came.
void* operator new(std::size_t size) {
  if (gAllocationsFail.load(std::memory_order_relaxed)) throw std::bad_alloc();
  if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return operator new(size, std::nothrow);
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete[](void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}

namespace {

using testing_support::Bytes;
using testing_support::hexBytes;

TEST(CApiWithoutMemory, DecidesStreamsAndReportsTheExplanationItCannotMake) {
  struct Case {
    Bytes bytes;
    int codePage;
  };
  Bytes mixed = testing_support::readExample("japanese_sjis.txt");
  const Bytes utf8 = testing_support::readExample("japanese_utf8.txt");
  mixed.insert(mixed.end(), utf8.begin(), utf8.begin() + 300);
  const std::vector<Case> cases = {
      {utf8, CPG_UTF8},                                                    // only one error-free
      {testing_support::readExample("japanese_sjis.txt"), CPG_SHIFT_JIS},  // ... the other
      {mixed, CPG_UTF8},                 // errors in both: the histograms decide
      {hexBytes("E3 81 82"), CPG_UTF8},  // both error-free: the histograms decide
      {hexBytes("63 61 66 C3 A9"), CPG_SHIFT_JIS},
      {testing_support::readExample("ascii.txt"), CPG_UNDECIDED},
  };
  std::vector<cpg_stream*> streams(cases.size());
  for (cpg_stream*& stream : streams) {
    stream = cpg_stream_new();
    ASSERT_NE(stream, nullptr);
  }
  std::vector<std::array<int, 4>> got(cases.size());
  cpg_explanation explanation{};
  explanation.size = sizeof explanation;
  // Nothing below may allocate, not even a failed expectation's message.
  gAllocationsFail = true;
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const Bytes& bytes = cases[k].bytes;
    cpg_stream_feed(streams[k], bytes.data(), bytes.size() / 2);
    cpg_stream_feed(streams[k], bytes.data() + bytes.size() / 2, bytes.size() - bytes.size() / 2);
    got[k] = {cpg_guess(bytes.data(), bytes.size()), cpg_stream_finish(streams[k]),
              cpg_guess_rule(bytes.data(), bytes.size(), nullptr),
              cpg_explain(bytes.data(), bytes.size(), &explanation)};
  }
  gAllocationsFail = false;

  for (std::size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(got[k][0], cases[k].codePage) << "one call";
    EXPECT_EQ(got[k][1], cases[k].codePage) << "streamed";
    EXPECT_EQ(got[k][2], cases[k].codePage) << "with the rule";
    EXPECT_EQ(got[k][3], CPG_ERROR_OUT_OF_MEMORY) << "explained";
    ASSERT_EQ(cpg_explain(cases[k].bytes.data(), cases[k].bytes.size(), &explanation), CPG_OK);
    EXPECT_EQ(explanation.code_page, cases[k].codePage);
    cpg_stream_free(streams[k]);
  }
}

}  // namespace
