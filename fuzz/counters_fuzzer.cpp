// Feeds arbitrary bytes to both counters, to every set of block-parallel
// kernels this processor runs and to the conjecture, and checks what must hold
// for every input: the block loops agree with the plain byte step however the
// input is split, only countable byte values are counted, nothing is counted
// twice, each kernel's validity and histograms are the counters', and the
// verdict is a candidate or "undecided", the same as the full reading gives,
// the C interface gives, and its stream gives on the input in two pieces;
// and the one-shot classification and the strict UTF-8 and EUC-JP checks say
// what the classifier reading every byte says; and every decoder writes the
// same in any pieces and any room, within its buffers, nothing but UTF-8, and
// each kernel set's Shift_JIS blocks decode as its careful path does.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "codepage_guess.h"
#include "encoding/char_digester.hpp"
#include "encoding/conjecture.hpp"
#include "encoding/counter_sjis.hpp"
#include "encoding/counter_utf8.hpp"
#include "encoding/kernels.hpp"
#include "encoding/kinds.hpp"
#include "encoding/shift_jis_tables.hpp"

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
  my::Classifier::EUCJPReading euc;
  bool wellFormed = true;
  for (std::size_t i = 0; i < size; ++i) {
    wellFormed = strict.step(data[i]) && wellFormed;
    euc.step(data[i]);
  }
  for (const my::Kernels* kernels : my::runnableKernels()) {
    if (kernels->checkUTF8Strictly == nullptr) continue;
    require(kernels->checkUTF8Strictly(copy.get(), length).wellFormed == wellFormed,
            "a strict UTF-8 check differs from the classifier's reading");
    const my::EUCJPCheck check = kernels->checkEUCJP(copy.get(), length);
    require(
        check.errorFree == !euc.broken && (!check.errorFree || check.cutShort == (euc.need != 0)),
        "an EUC-JP check differs from the classifier's reading");
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

// What a decoder makes of the input given in two pieces, split at `split`,
// into `room` bytes at a time: its UTF-8, each malformed sequence as its
// offset, length and reason between NUL bytes (which no decoder writes of
// its own where the input has none).
std::string decodeInPieces(cpg_decoder* decoder, const std::uint8_t* data, std::size_t size,
                           std::size_t split, std::size_t room) {
  cpg_decoder_reset(decoder);
  std::string out;
  const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[room]);
  const std::size_t ends[2] = {split, size};
  std::size_t from = 0;
  for (const std::size_t end : ends) {
    const auto piece = exactCopy(data + from, end - from);
    const std::size_t length = end - from;
    std::size_t at = 0;
    for (;;) {
      std::size_t read = 0, written = 0;
      const cpg_decode_status status = cpg_decode(decoder, piece.get() + at, length - at,
                                                  buffer.get(), room, end == size, &read, &written);
      require(read <= length - at && written <= room, "a decoder went past its buffers");
      out.append(reinterpret_cast<const char*>(buffer.get()), written);
      at += read;
      if (status == CPG_DECODE_MALFORMED) {
        cpg_malformed m;
        cpg_decoder_malformed(decoder, &m);
        require(m.length >= 1 && m.length <= 8 && m.offset + m.length <= size,
                "a malformed sequence out of bounds");
        out += '\0' + std::to_string(m.offset) + ':' + std::to_string(m.length) + ':' +
               std::to_string(m.reason) + '\0';
        continue;
      }
      if (status == CPG_DECODE_OUTPUT_FULL) {
        require(read != 0 || written != 0, "a decoder with room made no progress");
        continue;
      }
      require(status == CPG_DECODE_INPUT_EMPTY && at == length, "a decoder left input untaken");
      break;
    }
    from = end;
  }
  return out;
}

void checkDecoders(const std::uint8_t* data, std::size_t size, std::size_t split) {
  const bool hasNul = std::memchr(data, 0, size) != nullptr;
  for (const int kind :
       {CPG_KIND_SHIFT_JIS, CPG_KIND_EUC_JP, CPG_KIND_ISO_2022_JP, CPG_KIND_UTF16LE,
        CPG_KIND_UTF16BE, CPG_KIND_UTF32LE, CPG_KIND_UTF32BE, CPG_KIND_MIXED}) {
    for (const unsigned flags : {0u, unsigned{CPG_DECODE_ROUND_TRIP}}) {
      cpg_decoder* decoder = cpg_decoder_new(kind, flags);
      require(decoder != nullptr, "no decoder");
      const std::string whole = decodeInPieces(decoder, data, size, size, 4 * size + 64);
      const std::size_t room =
          std::size_t{CPG_DECODE_ROOM} + (size == 0 ? 0u : std::size_t{data[size / 2]} % 13);
      require(decodeInPieces(decoder, data, size, split, room) == whole,
              "a decoder wrote otherwise in pieces or in little room");
      cpg_decoder_free(decoder);
      // Between the markers, UTF-8 that the strict reading takes, whatever the
      // input (a mixed file's UTF-8 lines are passed on as they are).
      if (kind == CPG_KIND_MIXED || hasNul) continue;
      my::Classifier::StrictUTF8 strict;
      bool inMarker = false, wellFormed = true;
      for (const char c : whole) {
        if (c == '\0') {
          inMarker = !inMarker;
          continue;
        }
        if (!inMarker) wellFormed = strict.step(static_cast<std::uint8_t>(c)) && wellFormed;
      }
      require(wellFormed, "a decoder wrote something that is not UTF-8");
    }
  }

  // Each kernel set's blocks against the careful path, on the same bytes.
  const my::ShiftJISTables& tables = my::shiftJISTables();
  const auto copy = exactCopy(data, size);
  for (const my::Kernels* kernels : my::runnableKernels()) {
    if (kernels->decodeShiftJIS == nullptr) continue;
    for (const bool roundTrip : {false, true}) {
      const std::size_t room = 3 * size + 256;
      const std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[room]);
      std::size_t written = 0;
      const std::size_t read =
          kernels->decodeShiftJIS(tables, copy.get(), size, out.get(), room, roundTrip, written);
      require(read <= size && written <= room, "a block decoder went past its buffers");
      cpg_decoder* careful =
          cpg_decoder_new(CPG_KIND_SHIFT_JIS, roundTrip ? unsigned{CPG_DECODE_ROUND_TRIP} : 0u);
      const std::string expected = decodeInPieces(careful, data, read, read, 4 * read + 64);
      cpg_decoder_free(careful);
      require(std::string(reinterpret_cast<const char*>(out.get()), written) == expected,
              "a block decoder differs from the careful path");
    }
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
  checkDecoders(data, size, split);

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
