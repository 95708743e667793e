// Feeds arbitrary bytes to both counters, to every set of block-parallel
// kernels this processor runs and to the conjecture, and checks what must hold
// for every input: the block loops agree with the plain byte step however the
// input is split, only countable byte values are counted, nothing is counted
// twice, each kernel's validity and histograms are the counters', and the
// verdict is a candidate or "undecided", the same as the full reading gives,
// the C interface gives, and its stream gives on the input in two pieces;
// and the one-shot classification and the strict UTF-8 check say what the
// classifier reading every byte says.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "codepage_guess.h"
#include "encoding/char_digester.hpp"
#include "encoding/conjecture.hpp"
#include "encoding/counter_sjis.hpp"
#include "encoding/counter_utf8.hpp"
#include "encoding/kernels.hpp"
#include "encoding/kinds.hpp"

namespace {

void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

// An exact-size heap copy: a read one byte past the end is outside the block,
// where the address sanitizer sees it.
std::unique_ptr<std::uint8_t[]> exactCopy(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size]);
  if (size != 0) std::memcpy(copy.get(), data, size);
  return copy;
}

bool mayCountUTF8(unsigned b) {
  return b >= 0x80 && b <= 0xFD;
}
bool mayCountSJIS(unsigned b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

template <typename Counter>
bool sameState(const Counter& a, const std::uint32_t* counts, std::uint32_t errors) {
  return std::memcmp(a.counts, counts, sizeof a.counts) == 0 && a.errors == errors;
}

template <typename Counter>
Counter checkCounter(const char* name, const std::uint8_t* data, std::size_t size,
                     std::size_t split, bool (*mayCount)(unsigned)) {
  Counter plain;
  for (std::size_t i = 0; i < size; ++i)
    plain.step(data[i]);

  Counter whole;
  {
    const auto copy = exactCopy(data, size);
    whole.digest(copy.get(), static_cast<std::uint32_t>(size));
  }
  require(sameState(whole, plain.counts, plain.errors), "a whole block differs from step()");

  Counter pieces;
  {
    const auto head = exactCopy(data, split);
    const auto tail = exactCopy(data + split, size - split);
    pieces.digest(head.get(), static_cast<std::uint32_t>(split));
    pieces.digest(tail.get(), static_cast<std::uint32_t>(size - split));
  }
  require(sameState(pieces, plain.counts, plain.errors), "a split block differs from step()");

  const auto digester = my::createDigester(name);
  {
    const auto copy = exactCopy(data, size);
    digester->digest(copy.get(), static_cast<std::uint32_t>(size));
  }
  require(sameState(plain, digester->histogram(), digester->errorCount()),
          "the digester differs from its counter");

  std::uint64_t counted = 0;
  for (unsigned b = 0; b < 256; ++b) {
    require(plain.counts[b] == 0 || mayCount(b), "a byte value that cannot be counted was");
    counted += plain.counts[b];
  }
  require(counted + plain.errors <= size, "more bytes counted and in error than given");
  return plain;
}

void checkKernels(const std::uint8_t* data, std::size_t size, const my::CounterUTF8& utf8,
                  const my::CounterSJIS& sjis) {
  const auto copy = exactCopy(data, size);
  const auto length = static_cast<std::uint32_t>(size);
  for (const my::Kernels* kernels : my::runnableKernels()) {
    require(kernels->isErrorFreeUTF8(copy.get(), length) == (utf8.errors == 0),
            "a UTF-8 validator differs from the counter");
    require(kernels->isErrorFreeSJIS(copy.get(), length) == (sjis.errors == 0),
            "a Shift_JIS validator differs from the counter");
    my::CharacterCounts counts;
    kernels->countCharacters(copy.get(), length, counts);
    require(std::memcmp(counts.utf8, utf8.counts, sizeof counts.utf8) == 0,
            "a kernel's UTF-8 histogram differs from the counter's");
    require(std::memcmp(counts.sjis, sjis.counts, sizeof counts.sjis) == 0,
            "a kernel's Shift_JIS histogram differs from the counter's");
  }
}

void checkKinds(const std::uint8_t* data, std::size_t size, std::size_t split) {
  const auto copy = exactCopy(data, size);
  const auto length = static_cast<std::uint32_t>(size);
  my::Classifier::StrictUTF8 strict;
  bool wellFormed = true;
  for (std::size_t i = 0; i < size; ++i)
    wellFormed = strict.step(data[i]) && wellFormed;
  for (const my::Kernels* kernels : my::runnableKernels()) {
    if (kernels->checkUTF8Strictly == nullptr) continue;
    require(kernels->checkUTF8Strictly(copy.get(), length).wellFormed == wellFormed,
            "a strict UTF-8 check differs from the classifier's reading");
  }
  for (const bool whole : {true, false}) {
    my::Classifier classifier;
    classifier.feed(data, split);
    classifier.feed(data + split, size - split);
    const my::Description reference = classifier.finish(whole);
    const my::Description fast =
        my::describe(copy.get(), length, whole ? my::Extent::Whole : my::Extent::Start);
    require(fast.kind == reference.kind && fast.bom == reference.bom &&
                fast.ambiguous == reference.ambiguous && fast.utf8Line == reference.utf8Line &&
                fast.sjisLine == reference.sjisLine && fast.score == reference.score,
            "describe() differs from the classifier");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (std::size_t{1} << 20)) return 0;  // the tool never looks further
  // The split point comes from the input, so the fuzzer steers it too.
  const std::size_t split =
      size == 0 ? 0 : (std::size_t{data[0]} | std::size_t{data[size - 1]} << 8) % (size + 1);
  const auto utf8 = checkCounter<my::CounterUTF8>("utf8", data, size, split, mayCountUTF8);
  const auto sjis = checkCounter<my::CounterSJIS>("sjis", data, size, split, mayCountSJIS);
  checkKernels(data, size, utf8, sjis);
  checkKinds(data, size, split);

  const auto copy = exactCopy(data, size);
  const std::array<const char*, 2> candidates = {"utf8", "sjis"};
  const auto length = static_cast<std::uint32_t>(size);
  const std::size_t verdict = my::conjectureEncoding(candidates, copy.get(), length);
  require(verdict <= candidates.size(), "a verdict outside the candidates");
  require(my::conjectureEncoding(candidates, copy.get(), length) == verdict,
          "two verdicts on the same bytes");
  require(my::conjectureByDigesters(candidates, copy.get(), length) == verdict,
          "the verdict differs from the full reading's");

  // The C interface: one call, and the same bytes streamed in two pieces.
  const int codePages[] = {CPG_UTF8, CPG_SHIFT_JIS, CPG_UNDECIDED};
  require(cpg_guess(copy.get(), size) == codePages[verdict], "cpg_guess differs from the tool");
  cpg_stream* stream = cpg_stream_new();
  require(stream != nullptr, "no stream");
  cpg_stream_feed(stream, copy.get(), split);
  cpg_stream_feed(stream, copy.get() + split, size - split);
  require(cpg_stream_finish(stream) == codePages[verdict], "the stream differs from cpg_guess");
  cpg_stream_free(stream);
  return 0;
}
