#include <algorithm>
#include <cstring>

#include "encoding/ascii_run.hpp"
#include "encoding/candidates.hpp"
#include "encoding/kernels.hpp"
#include "encoding/kinds.hpp"
#include "encoding/lines.hpp"

// The classification of a buffer, as the Classifier gives it, without reading
// every byte through every reading: the validators settle most files at
// vector speed (valid UTF-8, ASCII, Shift_JIS that breaks UTF-8 at once), and
// the readings run only over what they must see.
namespace my {
inline namespace codepage_guess {
namespace {

using Span = const std::uint8_t*;

// A character cut short by the end of a whole input breaks UTF-8: the last
// lead byte among the last four announces more bytes than follow it.
bool endsInsideUTF8Character(Span data, std::uint32_t length) noexcept {
  for (std::uint32_t back = 1; back <= 4 && back <= length; ++back) {
    const std::uint8_t b = data[length - back];
    if (b < 0x80) return false;
    if (b >= 0xC0) return utf8::sequenceLength(b) > back;
  }
  return false;
}

// A Shift_JIS lead byte still waiting at the end: in a run of bytes that can
// lead, the bytes at even distance from its start are leads.
bool endsWithShiftJISLead(Span data, std::uint32_t length) noexcept {
  std::uint32_t run = 0;
  while (run < length && CounterSJIS::isLead(data[length - 1 - run]))
    ++run;
  return run % 2 == 1;
}

// Whether the last line of a whole input (if it has no newline) holds a high
// byte and breaks both readings: a character cut short by the end breaks
// either.
bool lastLineBreaksBoth(Span data, std::uint32_t length) noexcept {
  const std::uint32_t start = lines::startOf(data, length);
  const Span line = data + start;
  const auto size = length - start;
  const Kernels& kernels = selectedKernels();
  if (std::find_if(line, line + size, [](std::uint8_t b) { return b >= 0x80; }) == line + size)
    return false;
  const bool utf8Broken =
      !kernels.checkUTF8Strictly(line, size).wellFormed || endsInsideUTF8Character(line, size);
  return utf8Broken && (!kernels.isErrorFreeSJIS(line, size) || endsWithShiftJISLead(line, size));
}

// The candidates the validators found no error in, as decideEncoding() takes
// them.
unsigned errorFree(bool utf8, bool sjis) noexcept {
  static_assert(kCandidates[0].encoding == Encoding::UTF8 &&
                kCandidates[1].encoding == Encoding::SJIS);
  return (utf8 ? 1u : 0u) | (sjis ? 2u : 0u);
}

// Whether a reading waits for the rest of a character.
bool pending(const Classifier::ShiftJISReading& reading) noexcept {
  return reading.lead != 0;
}
bool pending(const Classifier::EUCJPReading& reading) noexcept {
  return reading.need != 0;
}

// Steps a reading through the bytes while `more` holds, runs of ASCII between
// characters in one step, as the classifier takes them; returns where it
// stopped.
template <typename Reading, typename More>
std::uint32_t read(Reading& reading, Span data, std::uint32_t length, More more) noexcept {
  std::uint32_t i = 0;
  while (i < length && more(reading)) {
    if (data[i] < 0x80 && !pending(reading)) {
      const std::uint32_t end = my::skipAscii(data, i, length);
      reading.asciiRun(data + i, end - i);
      i = end;
      continue;
    }
    reading.step(data[i++]);
  }
  return i;
}

Classifier::ShiftJISReading readUntilSampled(Span data, std::uint32_t length) noexcept {
  Classifier::ShiftJISReading reading;
  read(reading, data, length, [](const Classifier::ShiftJISReading& r) { return !r.sampled(); });
  reading.finish();
  return reading;
}

// Whether the bytes are EUC-JP, and what that reading met: read until its
// evidence is complete (at a character's end), the rest checked at kernel
// speed.
Classifier::EUCJPReading readEUCJP(Span data, std::uint32_t length, bool whole) noexcept {
  Classifier::EUCJPReading reading;
  const std::uint32_t stop = read(reading, data, length, [](const Classifier::EUCJPReading& r) {
    return !r.broken && !r.sampled();
  });
  if (!reading.broken && stop < length) {
    const EUCJPCheck rest = selectedKernels().checkEUCJP(data + stop, length - stop);
    reading.broken = !rest.errorFree || (whole && rest.cutShort);
  } else if (whole && reading.need != 0) {
    reading.broken = true;
  }
  reading.finish();
  return reading;
}

}  // namespace

lines::FirstLines lines::firstLinesOfShiftJIS(const std::uint8_t* data, std::uint32_t length,
                                              bool whole, std::uint32_t candidate,
                                              bool wantSJIS) noexcept {
  const Kernels& kernels = selectedKernels();
  FirstLines first;
  for (std::uint32_t start = candidate; start < length;) {
    const std::uint32_t end = endOf(data, length, start);
    if (isUTF8(data, start, end, !whole || end < length)) {
      first.utf8 = numberAt(data, start);
      break;
    }
    start = end < length ? kernels.nextUTF8Line(data, length, end) : length;
  }
  for (std::uint32_t start = 0; wantSJIS && start < length;) {
    const std::uint8_t* high =
        std::find_if(data + start, data + length, [](std::uint8_t b) { return b >= 0x80; });
    if (high == data + length) break;
    const auto at = static_cast<std::uint32_t>(high - data);
    const std::uint8_t* lineStart =
        std::find(std::reverse_iterator<const std::uint8_t*>(high),
                  std::reverse_iterator<const std::uint8_t*>(data + start), '\n')
            .base();
    const auto from = static_cast<std::uint32_t>(lineStart - data);
    const std::uint32_t end = endOf(data, length, at);
    if (!isUTF8(data, from, end, !whole || end < length)) {
      first.sjis = numberAt(data, from);
      break;
    }
    start = end;
  }
  return first;
}

Description describe(const std::uint8_t* data, std::uint32_t length, Extent extent,
                     bool japanese) noexcept {
  const auto readEveryByte = [&] {
    Classifier classifier;
    classifier.feed(data, length);
    return classifier.finish(extent == Extent::Whole, japanese);
  };
  const auto reference = [&] {
    Description found = readEveryByte();
    found.decision = decideEncoding(candidateEncodings(), data, length);
    return found;
  };
#if defined(CODEPAGE_GUESS_COMPACT)
  // A build made small (WebAssembly) has none of the fast paths' kernels.
  return reference();
#endif
  const bool whole = extent == Extent::Whole;
  Description d;
  const ByteOrderMark mark = byteOrderMarkOf(data, length);
  // UTF-16 and UTF-32 are what their mark says when every unit is well-formed;
  // otherwise (rare) the reference reads every byte.
  if (mark != ByteOrderMark::None && mark != ByteOrderMark::UTF8) {
    Classifier::UnitReading units;
    const std::size_t skip = byteOrderMarkLength(mark);
    units.read(data + skip, length - skip, mark);
    if (units.broken || (whole && (units.filled != 0 || units.highSurrogate))) return reference();
    d.kind = kindOfMark(mark);
    d.bom = true;
    d.decision = decideEncoding(candidateEncodings(), data, length);
    return d;
  }
  d.bom = mark == ByteOrderMark::UTF8;
  const Kernels& kernels = selectedKernels();
  if (length == 0) {
    d.kind = Kind::Empty;
    d.decision = decideEncoding(candidateEncodings(), data, length);
    return d;
  }

  const bool nulEarly = std::memchr(data, 0, std::min<std::uint32_t>(length, kBinaryWindow));
  UTF8Check utf8 = kernels.checkUTF8Strictly(data, length);
  if (utf8.wellFormed && whole && endsInsideUTF8Character(data, length)) utf8.wellFormed = false;
  // The counter takes a lead left at the end for no error; a whole input's
  // kind does not.
  const auto sjisValid = [&](bool counterFree) {
    return counterFree && !(whole && endsWithShiftJISLead(data, length));
  };
  if (utf8.wellFormed && utf8.high && !nulEarly) {
    d.kind = Kind::UTF8;
    const bool counterFree = kernels.isErrorFreeSJIS(data, length);
    d.ambiguous = sjisValid(counterFree);
    // Well-formed UTF-8 is error-free to the counter too: unless Shift_JIS is
    // as well, that decides.
    d.decision = decideEncoding(candidateEncodings(), data, length, errorFree(true, counterFree));
    return d;
  }
  if (nulEarly) {
    d.decision = decideEncoding(candidateEncodings(), data, length);
    d.kind = Kind::Binary;
    return d;
  }
  if (utf8.wellFormed) {  // ASCII
    // Both readings are clean and neither counts a byte: no score, no verdict.
    constexpr std::size_t kCount = kCandidates.size();
    d.decision = Decision{kCount, Rule::Undecided, (1u << kCount) - 1};
    if (!utf8.escape) {
      d.kind = Kind::ASCII;
    } else {
      Classifier::ISO2022JP jis;
      jis.read(data, length);
      if (whole && (jis.escape != 0 || jis.halfPair)) jis.broken = true;
      d.kind = jis.switched && !jis.broken ? Kind::ISO2022JP : Kind::ASCII;
    }
    return d;
  }

  // Not UTF-8: what the Japanese readings say, and the counters' readings
  // for the verdict, with Shift_JIS's first line that could be UTF-8 where
  // the lines decide, in the same pass.
  const Classifier::ShiftJISReading sjis = readUntilSampled(data, length);
  d.score = japaneseScore(sjis.evidence);
  const Classifier::EUCJPReading euc = readEUCJP(data, length, whole);
  Kind kind = Kind::Unknown;
  bool linesDecide = false;
  if (!euc.broken && readsAsJapanese(euc.evidence, Reading::EUCJP, japanese)) {
    kind = Kind::EUCJP;
  } else if (euc.broken || sjis.evidence.characters == sjis.evidence.halfWidth ||
             sjis.evidence.lowLeads != 0) {
    linesDecide = readsAsJapanese(sjis.evidence, Reading::ShiftJIS, japanese);
  }
  const bool utf8Free = kernels.isErrorFreeUTF8(data, length);
  const ShiftJISLines sjisLines =
      linesDecide ? kernels.checkShiftJISLines(data, length)
                  : ShiftJISLines{kernels.isErrorFreeSJIS(data, length), length, false};
  d.decision =
      decideEncoding(candidateEncodings(), data, length, errorFree(utf8Free, sjisLines.errorFree));
  d.kind = kind;
  if (!linesDecide) return d;
  const lines::FirstLines first =
      lines::firstLinesOfShiftJIS(data, length, whole, sjisLines.utf8Line, true);
  if (sjisValid(sjisLines.errorFree)) {
    d.kind = first.utf8 != 0 ? Kind::Mixed : Kind::ShiftJIS;
  } else {
    // Shift_JIS broken somewhere: mixed text when every line it breaks in is
    // UTF-8, the line a whole input ends with as a whole line.
    const bool brokenLine = sjisLines.brokenLine || (whole && lastLineBreaksBoth(data, length));
    if (brokenLine || first.utf8 == 0 || first.sjis == 0) return d;
    d.kind = Kind::Mixed;
  }
  d.utf8Line = first.utf8;
  d.sjisLine = first.sjis;
  return d;
}

}  // namespace codepage_guess
}  // namespace my
