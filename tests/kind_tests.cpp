#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "byte_script.hpp"
#include "codepage_guess.h"
#include "encoding/candidates.hpp"
#include "encoding/conjecture.hpp"
#include "encoding/kinds.hpp"
#include "test_inputs.hpp"

namespace {

using my::Kind;
using testing_support::Bytes;
using testing_support::hexBytes;

Bytes readSample(const char* name) {
  return testing_support::readTestSample(name);
}

Bytes bytesOf(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Japanese text in UTF-8 as UTF-16 or UTF-32 with its mark: for the text of
// the samples, every character is in the Basic Multilingual Plane.
Bytes wide(const Bytes& utf8, int width, bool little) {
  std::vector<std::uint32_t> characters;
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned b = utf8[i];
    const int length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    std::uint32_t c = length == 1 ? b : b & (0x3F >> (length - 1));
    for (int k = 1; k < length; ++k)
      c = c << 6 | (utf8[i + static_cast<std::size_t>(k)] & 0x3Fu);
    characters.push_back(c);
    i += static_cast<std::size_t>(length);
  }
  Bytes out;
  const auto put = [&](std::uint32_t unit) {
    for (int k = 0; k < width; ++k) {
      const int shift = 8 * (little ? k : width - 1 - k);
      out.push_back(static_cast<std::uint8_t>(unit >> shift));
    }
  };
  put(0xFEFF);
  for (const std::uint32_t c : characters)
    put(c);
  return out;
}

my::Description described(const Bytes& bytes, my::Extent extent = my::Extent::Whole) {
  return my::describe(bytes.data(), static_cast<std::uint32_t>(bytes.size()), extent);
}

my::Description classified(const Bytes& bytes, const std::vector<std::size_t>& cuts = {}) {
  my::Classifier classifier;
  std::size_t from = 0;
  for (const std::size_t cut : cuts) {
    classifier.feed(bytes.data() + from, cut - from);
    from = cut;
  }
  classifier.feed(bytes.data() + from, bytes.size() - from);
  return classifier.finish();
}

const Bytes kUTF8 = testing_support::readExample("japanese_utf8.txt");
const Bytes kSJIS = testing_support::readExample("japanese_sjis.txt");
// 更新: 修正しました, the line a UTF-8 editor adds to a Shift_JIS file: valid
// Shift_JIS as well.
const Bytes kUTF8Line = bytesOf(
    "// \xE6\x9B\xB4\xE6\x96\xB0: \xE4\xBF\xAE\xE6\xAD\xA3\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97"
    "\xE3\x81\x9F\n");

struct KindCase {
  const char* what;
  Bytes bytes;
  Kind kind;
  bool bom, ambiguous;
};

std::vector<KindCase> kindCases() {
  const Bytes binary = bytesOf(
                           "\x7F"
                           "ELF") +
                       Bytes(40, 0) + kSJIS;
  Bytes lateNul = bytesOf(std::string(9000, 'a')) + Bytes{0} + kUTF8;
  Bytes brokenUTF16 = wide(kUTF8, 2, true);
  brokenUTF16[10] = 0x00;
  brokenUTF16[11] = 0xDC;  // a low surrogate alone
  return {
      {"nothing", {}, Kind::Empty, false, false},
      {"English", bytesOf("Hello, world.\r\n"), Kind::ASCII, false, false},
      {"an ANSI colour escape is no JIS escape", bytesOf("\x1B[31mred\x1B[0m\n"), Kind::ASCII,
       false, false},
      {"JIS escapes", readSample("japanese_iso2022jp.txt"), Kind::ISO2022JP, false, false},
      {"half a JIS pair spoils them",
       readSample("japanese_iso2022jp.txt") + bytesOf("\x1B$B0!0\n\x1B(B\n"), Kind::ASCII, false,
       false},
      {"an unknown escape spoils them", readSample("japanese_iso2022jp.txt") + bytesOf("\x1B[0m"),
       Kind::ASCII, false, false},
      {"Japanese in UTF-8", kUTF8, Kind::UTF8, false, false},
      {"a UTF-8 word that is valid Shift_JIS too", bytesOf("caf\xC3\xA9 cr\xC3\xA8me\n"),
       Kind::UTF8, false, true},
      {"UTF-8 with its mark", bytesOf("\xEF\xBB\xBF") + kUTF8, Kind::UTF8, true, false},
      {"the mark before ASCII, also valid Shift_JIS", bytesOf("\xEF\xBB\xBFplain\n"), Kind::UTF8,
       true, true},
      {"UTF-16LE", wide(kUTF8, 2, true), Kind::UTF16LE, true, false},
      {"UTF-16BE", wide(kUTF8, 2, false), Kind::UTF16BE, true, false},
      {"UTF-32LE", wide(kUTF8, 4, true), Kind::UTF32LE, true, false},
      {"UTF-32BE", wide(kUTF8, 4, false), Kind::UTF32BE, true, false},
      {"UTF-16 with a lone surrogate is no UTF-16", brokenUTF16, Kind::Binary, true, false},
      {"a NUL byte early", binary, Kind::Binary, false, false},
      {"a NUL byte past the first 8 KiB", lateNul, Kind::UTF8, false, false},
      // A binary is not read past its NUL byte: whatever follows cannot make
      // it ambiguous, however it is fed.
      {"a NUL byte before UTF-8 cut short", Bytes{0} + bytesOf("caf\xC3\xA9\n\xE3\x81"),
       Kind::Binary, false, false},
      {"a surrogate is no UTF-8", bytesOf("a \xED\xA0\x80 b\n"), Kind::Unknown, false, false},
      {"Japanese in Shift_JIS", kSJIS, Kind::ShiftJIS, false, false},
      {"吉里吉里, too short for the score", hexBytes("8B 67 97 A2 8B 67 97 A2 0A"), Kind::ShiftJIS,
       false, false},
      {"// 窓", bytesOf("// \x91\x8B\n"), Kind::ShiftJIS, false, false},
      {"設定 in a comment", bytesOf("x = 1; /* \x90\xDD\x92\xE8 */\n"), Kind::ShiftJIS, false,
       false},
      {"最大粒子数", hexBytes("8D C5 91 E5 97 B1 8E 71 90 94"), Kind::ShiftJIS, false, false},
      {"ｺﾝﾋﾟｭｰﾀ, half-width katakana", hexBytes("BA DD CB DF AD B0 C0 0A"), Kind::ShiftJIS, false,
       false},
      {"a UTF-8 line in Shift_JIS", kSJIS + kUTF8Line + kSJIS, Kind::Mixed, false, false},
      {"UTF-8 lines that break Shift_JIS", kSJIS + kUTF8, Kind::Mixed, false, false},
      {"Japanese in EUC-JP", readSample("japanese_eucjp.txt"), Kind::EUCJP, false, false},
      {"Latin-1", readSample("latin1.txt"), Kind::Unknown, false, false},
      {"Latin-1 that is valid Shift_JIS",
       bytesOf("\xC9T\xC9 \xC9"
               "COLE \xC0\xC9\xC8\xC7 \xCELE\n"),
       Kind::Unknown, false, false},
      {"CP1252", readSample("cp1252.txt"), Kind::Unknown, false, false},
      {"a German README in CP437", readSample("cp437_german.txt"), Kind::Unknown, false, false},
      {"Leêr, one accented letter inside a word", bytesOf("[Geen\\ Le\xEAr]\n"), Kind::Unknown,
       false, false},
      {"répète in CP437", bytesOf("r\x82p\x8Ate\n"), Kind::Unknown, false, false},
  };
}

TEST(Kinds, AreWhatTheBytesAre) {
  for (const KindCase& c : kindCases()) {
    const my::Description d = classified(c.bytes);
    EXPECT_STREQ(my::kindName(d.kind), my::kindName(c.kind)) << c.what;
    EXPECT_EQ(d.bom, c.bom) << c.what;
    EXPECT_EQ(d.ambiguous, c.ambiguous) << c.what;
  }
}

TEST(Kinds, TakeACleanReadingForJapaneseWhenTheCallerSaysSo) {
  struct Case {
    Bytes bytes;
    Kind told;  // when the caller says it is Japanese; Unknown without
    const char* why;
  } cases[] = {
      {hexBytes("8B 67 0A"), Kind::ShiftJIS, "吉"},
      {hexBytes("93 64 98 62"), Kind::ShiftJIS, "電話: kanji with trails that are letters"},
      {bytesOf("\xC9T\xC9 \xC9"
               "COLE\n"),
       Kind::Unknown, "Latin-1 that is valid Shift_JIS: no kana, no kanji"},
      {bytesOf("Gr\xF6\xDF"
               "e\n"),
       Kind::Unknown, "Latin-1 read as a user-defined code"},
      {bytesOf("s\xE9"
               "ance\n"),
       Kind::Unknown, "Latin-1 read as a kanji between letters"},
  };
  for (const Case& c : cases) {
    my::Classifier classifier;
    classifier.feed(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(classifier.finish().kind, Kind::Unknown) << c.why;
    EXPECT_EQ(classifier.finish(true, true).kind, c.told) << c.why;
    EXPECT_EQ(my::describe(c.bytes.data(), static_cast<std::uint32_t>(c.bytes.size()),
                           my::Extent::Whole, true)
                  .kind,
              c.told)
        << c.why;
  }
  // UTF-8 stays UTF-8, and a Shift_JIS reading that breaks is not taken.
  EXPECT_EQ(
      my::describe(kUTF8.data(), static_cast<std::uint32_t>(kUTF8.size()), my::Extent::Whole, true)
          .kind,
      Kind::UTF8);
  const Bytes broken = hexBytes("82 0A 41");
  EXPECT_EQ(my::describe(broken.data(), 3, my::Extent::Whole, true).kind, Kind::Unknown);
}

// Surrogate pairs, and surrogates alone, at every place among eight-byte
// stretches of UTF-16 in both byte orders, as a byte-by-byte reading, the
// classifier in pieces and the one-shot call see them.
TEST(Kinds, TakeUTF16SurrogatesWhereverTheyAre) {
  for (const bool little : {true, false}) {
    const Bytes text = wide(kUTF8, 2, little);
    const auto unit = [&](unsigned u) {
      return little ? Bytes{static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8)}
                    : Bytes{static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)};
    };
    for (std::size_t at = 2; at < 40; at += 2) {
      const Bytes head(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at));
      const Bytes tail(text.begin() + static_cast<std::ptrdiff_t>(at), text.end());
      const std::pair<Bytes, Kind> cases[] = {
          {head + unit(0xD83D) + unit(0xDE00) + tail, little ? Kind::UTF16LE : Kind::UTF16BE},
          {head + unit(0xD83D) + tail, Kind::Binary},
          {head + unit(0xDE00) + tail, Kind::Binary},
          {head + unit(0xDE00) + unit(0xD83D) + tail, Kind::Binary},
      };
      for (const auto& [bytes, kind] : cases) {
        my::Classifier byteByByte;
        for (const std::uint8_t b : bytes)
          byteByByte.feed(&b, 1);
        ASSERT_EQ(byteByByte.finish().kind, kind) << at;
        ASSERT_EQ(classified(bytes, {at + 1, at + 9}).kind, kind) << at;
        ASSERT_EQ(described(bytes).kind, kind) << at;
      }
    }
  }
}

TEST(Kinds, NameTheLinesWhereMixedTextChanges) {
  // Lines 1 to 11 of the sample, then the UTF-8 one.
  const my::Description d = classified(kSJIS + kUTF8Line + kSJIS);
  std::size_t lines = 0;
  for (const std::uint8_t b : kSJIS)
    lines += b == '\n';
  EXPECT_EQ(d.kind, Kind::Mixed);
  EXPECT_EQ(d.utf8Line, lines + 1);
  EXPECT_EQ(d.sjisLine, 1u);
}

// The sample up to the first byte after a lead byte: inside a character.
Bytes cutInsideACharacter() {
  std::size_t at = 0;
  while (kUTF8[at] < 0xC0)
    ++at;
  return Bytes(kUTF8.begin(), kUTF8.begin() + static_cast<std::ptrdiff_t>(at) + 2);
}

TEST(Kinds, HoldACharacterCutByTheEndAgainstAWholeInputOnly) {
  const Bytes cut = cutInsideACharacter();
  EXPECT_EQ(described(cut, my::Extent::Start).kind, Kind::UTF8);
  EXPECT_NE(described(cut, my::Extent::Whole).kind, Kind::UTF8);
  my::Classifier classifier;
  classifier.feed(cut.data(), cut.size());
  EXPECT_EQ(classifier.finish(false).kind, Kind::UTF8);
  EXPECT_NE(classifier.finish(true).kind, Kind::UTF8);
}

TEST(Kinds, AreTheSameInAnyPieces) {
  for (const KindCase& c : kindCases()) {
    const my::Description whole = classified(c.bytes);
    std::mt19937 random(7);
    for (int round = 0; round < 40 && !c.bytes.empty(); ++round) {
      std::vector<std::size_t> cuts;
      for (std::size_t at = 0; at < c.bytes.size(); at += 1 + random() % 9)
        cuts.push_back(at);
      const my::Description pieces = classified(c.bytes, cuts);
      ASSERT_EQ(pieces.kind, whole.kind) << c.what << ", round " << round;
      ASSERT_EQ(pieces.utf8Line, whole.utf8Line) << c.what;
      ASSERT_EQ(pieces.sjisLine, whole.sjisLine) << c.what;
      ASSERT_EQ(pieces.bom, whole.bom) << c.what;
      ASSERT_EQ(pieces.ambiguous, whole.ambiguous) << c.what;
      ASSERT_EQ(pieces.score, whole.score) << c.what;
    }
  }
}

Bytes repeated(const Bytes& text, std::size_t size) {
  Bytes out;
  while (out.size() < size)
    out = out + text;
  return out;
}

bool sameDescription(const my::Description& a, const my::Description& b) {
  return a.kind == b.kind && a.bom == b.bom && a.ambiguous == b.ambiguous &&
         a.utf8Line == b.utf8Line && a.sjisLine == b.sjisLine && a.score == b.score;
}

// Past its samples the classifier takes whole lines through the kernels, and
// stops reading once nothing can change the kind: fed a byte at a time it
// reads every byte itself, and must come to the same.
TEST(Kinds, AreTheSameWhetherLinesAreReadWholeOrByteByByte) {
  const Bytes sjis = repeated(kSJIS, 60000), utf8 = repeated(kUTF8, 60000);
  const Bytes latin = repeated(readSample("latin1.txt"), 200000);
  Bytes brokenSJIS = sjis + hexBytes("82 0A") + kSJIS;
  const std::pair<const char*, Bytes> inputs[] = {
      {"Shift_JIS", sjis},
      {"UTF-8", utf8},
      {"EUC-JP", repeated(readSample("japanese_eucjp.txt"), 60000)},
      {"a UTF-8 line past the samples", sjis + kUTF8Line + kSJIS},
      {"UTF-8 lines that break Shift_JIS past them", sjis + kUTF8 + kSJIS},
      {"Shift_JIS broken past them", brokenSJIS},
      {"Shift_JIS past UTF-8", utf8 + kSJIS},
      {"Latin-1", latin},
      {"Latin-1, then Shift_JIS", latin + sjis},
      {"a NUL byte early", Bytes{0x41, 0} + sjis},
      {"ISO-2022-JP", repeated(readSample("japanese_iso2022jp.txt"), 60000)},
      {"ISO-2022-JP with half a pair",
       repeated(readSample("japanese_iso2022jp.txt"), 60000) + bytesOf("\x1B$B0!0 \x1B(B\n")},
      // UTF-8 that Shift_JIS reads cleanly until a line past the samples.
      {"UTF-8 that breaks Shift_JIS past them",
       repeated(bytesOf("caf\xC3\xA9 cr\xC3\xA8me\n"), 60000) + bytesOf("\xE3\x81\x82\n")},
  };
  for (const auto& [what, bytes] : inputs) {
    my::Classifier byteByByte;
    for (const std::uint8_t b : bytes)
      byteByByte.feed(&b, 1);
    const my::Description reference = byteByByte.finish();
    for (const std::size_t piece : {std::size_t{65536}, std::size_t{4093}, bytes.size()}) {
      std::vector<std::size_t> cuts;
      for (std::size_t at = piece; at < bytes.size(); at += piece)
        cuts.push_back(at);
      const my::Description pieces = classified(bytes, cuts);
      EXPECT_TRUE(sameDescription(pieces, reference))
          << what << ", pieces of " << piece << ": " << my::kindName(pieces.kind) << " for "
          << my::kindName(reference.kind) << ", lines " << pieces.utf8Line << "/" << pieces.sjisLine
          << " for " << reference.utf8Line << "/" << reference.sjisLine;
    }
  }
}

// The one-shot call takes the validators' fast paths; it must describe every
// input as the byte-by-byte classifier does, the verdict as cpg_guess gives it.
void expectSameDescription(const Bytes& bytes, const std::string& what) {
  for (const my::Extent extent : {my::Extent::Whole, my::Extent::Start}) {
    const my::Description fast = described(bytes, extent);
    my::Classifier classifier;
    classifier.feed(bytes.data(), bytes.size());
    const my::Description reference = classifier.finish(extent == my::Extent::Whole);
    ASSERT_EQ(fast.kind, reference.kind) << what;
    ASSERT_EQ(fast.bom, reference.bom) << what;
    ASSERT_EQ(fast.ambiguous, reference.ambiguous) << what;
    ASSERT_EQ(fast.utf8Line, reference.utf8Line) << what;
    ASSERT_EQ(fast.sjisLine, reference.sjisLine) << what;
    ASSERT_EQ(fast.score, reference.score) << what;
    const int codePages[] = {CPG_UTF8, CPG_SHIFT_JIS, CPG_UNDECIDED};
    ASSERT_EQ(codePages[fast.decision.verdict], cpg_guess(bytes.data(), bytes.size())) << what;
    // The rule too, from the validity its own checks found.
    const my::Decision full = my::decideEncoding(my::candidateEncodings(), bytes.data(),
                                                 static_cast<std::uint32_t>(bytes.size()));
    ASSERT_EQ(fast.decision.rule, full.rule) << what;
    ASSERT_EQ(fast.decision.errorFree, full.errorFree) << what;
  }
}

TEST(Describe, GivesWhatTheClassifierGives) {
  for (const KindCase& c : kindCases())
    expectSameDescription(c.bytes, c.what);
  std::mt19937 random(23);
  for (int round = 0; round < 200; ++round) {
    expectSameDescription(testing_support::randomBytes(random, 1 + random() % 3000), "random");
    expectSameDescription(testing_support::biasedBytes(random, 1 + random() % 3000), "biased");
  }
  for (const Bytes& text :
       {kUTF8, kSJIS, readSample("japanese_eucjp.txt"), readSample("latin1.txt")}) {
    for (int round = 0; round < 50; ++round)
      expectSameDescription(testing_support::damagedText(text, random), "damaged text");
  }
}

// Every escape sequence ISO-2022-JP knows and some it does not, with whole
// and half pairs after, cut at every byte: the one-shot call takes escapes
// whole where it can, the classifier a byte at a time.
TEST(Describe, ReadsEscapeSequencesAsTheClassifierDoes) {
  const char* const escapes[] = {"\x1B(B",  "\x1B(J",  "\x1B(I",  "\x1B$@",  "\x1B$B",
                                 "\x1B&@",  "\x1B$(D", "\x1B$(O", "\x1B$(Q", "\x1B$(P",
                                 "\x1B$(X", "\x1B$A",  "\x1B&B",  "\x1B(",   "\x1B"};
  for (const char* before : {"ab", "a long line of ASCII before it "})
    for (const char* escape : escapes)
      for (const char* after : {"0!", "0", "0!0!", "\n", ""}) {
        const Bytes bytes = bytesOf(std::string(before) + escape + after + "\x1B(B\n");
        for (std::size_t cut = 1; cut <= bytes.size(); ++cut)
          expectSameDescription(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(cut)),
                                std::string("escape ") + (escape + 1) + " then " + after);
      }
}

// Text in ISO-2022-JP as it is written, with now and then a sequence that
// breaks it: the one-shot call skips the runs between escapes and takes each
// escape whole, which must give what a step per byte gives, wherever the
// escapes, the pairs and the pieces' ends fall.
Bytes drawnISO2022JP(std::mt19937& random, std::size_t length) {
  const char* const pieces[] = {"\x1B$B",  "\x1B(B",  "\x1B(J", "\x1B(I", "\x1B$@", "\x1B&@",
                                "\x1B$(D", "\x1B$(Q", "0!",     "%3",     "J8;z",   "~~",
                                "\n",      " ",       "ab cd",  "0",      "\x1B$A", "\x1B("};
  const std::size_t kWhole = 16;  // before these: escapes ISO-2022-JP has, and text
  Bytes text;
  while (text.size() < length) {
    const std::size_t k = random() % 50 == 0 ? kWhole + random() % 2 : random() % kWhole;
    // Pairs in runs, as a double-byte set's characters come.
    const std::size_t repeat = k >= 8 && k <= 11 ? 1 + random() % 20 : 1;
    for (std::size_t n = 0; n < repeat; ++n)
      text = text + bytesOf(pieces[k]);
  }
  text.resize(length);
  return text;
}

TEST(Describe, ReadsISO2022JPTextAsTheClassifierDoes) {
  std::mt19937 random(31);
  for (int round = 0; round < 3000; ++round) {
    const Bytes text = drawnISO2022JP(random, random() % 400);
    expectSameDescription(text, "ISO-2022-JP");
  }
}

// The reading's whole state, taken in pieces of any size, against a step per
// byte: while it is unbroken, everything it carries to the next piece.
TEST(ISO2022JPReading, TakesPiecesAsBytes) {
  std::mt19937 random(37);
  int unbroken = 0;
  for (int round = 0; round < 3000; ++round) {
    const Bytes text = drawnISO2022JP(random, random() % 600);
    my::Classifier::ISO2022JP pieces, bytes;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t size = std::min<std::size_t>(text.size() - at, 1 + random() % 200);
      pieces.read(text.data() + at, static_cast<std::uint32_t>(size));
      at += size;
    }
    for (const std::uint8_t b : text)
      bytes.step(b);
    ASSERT_EQ(pieces.broken, bytes.broken) << round;
    if (bytes.broken) continue;
    ++unbroken;
    ASSERT_EQ(pieces.switched, bytes.switched) << round;
    ASSERT_EQ(pieces.doubleByte, bytes.doubleByte) << round;
    ASSERT_EQ(pieces.halfPair, bytes.halfPair) << round;
    ASSERT_EQ(pieces.escape, bytes.escape) << round;
  }
  EXPECT_GT(unbroken, 300);  // the draw must not break almost every text
}

std::vector<Bytes> linesOf(const Bytes& text) {
  std::vector<Bytes> lines(1);
  for (const std::uint8_t b : text) {
    lines.back().push_back(b);
    if (b == '\n') lines.emplace_back();
  }
  return lines;
}

// Files made of lines of every kind, in any order, cut anywhere: where the
// fast path and the reading of every byte could part.
TEST(Describe, GivesWhatTheClassifierGivesOnLinesOfEveryKind) {
  std::vector<Bytes> lines;
  for (const Bytes& text : {kUTF8, kSJIS, readSample("japanese_eucjp.txt"),
                            readSample("latin1.txt"), readSample("cp437_german.txt"), kUTF8Line,
                            hexBytes("BA DD CB DF AD B0 C0 0A 8B 67 97 A2 0A 41 42 0A")}) {
    for (Bytes& line : linesOf(text))
      lines.push_back(std::move(line));
  }
  std::mt19937 random(29);
  for (int round = 0; round < 3000; ++round) {
    Bytes text;
    const std::size_t count = 1 + random() % 12;
    const std::size_t kinds = 1 + random() % 3;  // draw from a few sources at a time
    const std::size_t first = random() % lines.size();
    for (std::size_t k = 0; k < count; ++k)
      text = text + lines[(first + random() % (kinds * 8)) % lines.size()];
    if (random() % 3 == 0 && !text.empty()) text.resize(random() % text.size());
    expectSameDescription(text, "lines");
  }
}

TEST(CDescribe, FillsWhatTheCallersSizeHoldsAndNoMore) {
  const Bytes sjis = kSJIS;
  cpg_description d{};
  d.size = sizeof d;
  ASSERT_EQ(cpg_describe(sjis.data(), sjis.size(), &d), CPG_OK);
  EXPECT_EQ(d.size, sizeof d);
  EXPECT_STREQ(cpg_kind_name(static_cast<int>(d.kind)), "shift_jis");
  EXPECT_EQ(d.code_page, CPG_SHIFT_JIS);
  EXPECT_EQ(d.rule, CPG_RULE_ONLY_ERROR_FREE);
  EXPECT_EQ(d.examined, sjis.size());

  struct Later {
    cpg_description known;
    std::uint8_t more[16];
  } later;
  std::memset(&later, 0xAB, sizeof later);
  later.known.size = sizeof later;
  later.known.flags = 0;
  ASSERT_EQ(cpg_describe(sjis.data(), sjis.size(), &later.known), CPG_OK);
  EXPECT_EQ(later.known.size, sizeof(cpg_description));
  for (const std::uint8_t b : later.more)
    EXPECT_EQ(b, 0xAB);

  cpg_description small{};
  small.size = 63;
  EXPECT_EQ(cpg_describe(sjis.data(), sjis.size(), &small), CPG_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(small.size, 63u);
  EXPECT_EQ(cpg_describe(sjis.data(), sjis.size(), nullptr), CPG_ERROR_INVALID_ARGUMENT);
  d.size = sizeof d;
  ASSERT_EQ(cpg_describe(nullptr, 5, &d), CPG_OK);
  EXPECT_EQ(d.kind, static_cast<std::uint32_t>(CPG_KIND_EMPTY));
}

TEST(CDescribe, TakesTheStartOfALongerInputWhenAskedOrPastTheLimit) {
  const Bytes cut = cutInsideACharacter();
  cpg_description d{};
  d.size = sizeof d;
  ASSERT_EQ(cpg_describe(cut.data(), cut.size(), &d), CPG_OK);
  EXPECT_NE(d.kind, static_cast<std::uint32_t>(CPG_KIND_UTF8));
  d.flags = CPG_DESCRIBE_START_ONLY;
  ASSERT_EQ(cpg_describe(cut.data(), cut.size(), &d), CPG_OK);
  EXPECT_EQ(d.kind, static_cast<std::uint32_t>(CPG_KIND_UTF8));

  // A mebibyte and more of UTF-8, cut inside a character at the limit.
  Bytes big;
  while (big.size() <= CPG_INPUT_LIMIT)
    big = big + kUTF8;
  d.flags = 0;
  ASSERT_EQ(cpg_describe(big.data(), big.size(), &d), CPG_OK);
  EXPECT_EQ(d.kind, static_cast<std::uint32_t>(CPG_KIND_UTF8));
  EXPECT_EQ(d.examined, std::uint64_t{CPG_INPUT_LIMIT});
}

TEST(CClassifier, DescribesAWholeFileOfAnyLength) {
  // Past the first mebibyte, ASCII turns to Shift_JIS: the kind says so, the
  // verdict (on the first mebibyte) does not.
  Bytes text = bytesOf(std::string(CPG_INPUT_LIMIT + 100, 'a')) + bytesOf("\n") + kSJIS;
  cpg_classifier* classifier = cpg_classifier_new();
  ASSERT_NE(classifier, nullptr);
  for (std::size_t at = 0; at < text.size(); at += 65536)
    cpg_classifier_feed(classifier, text.data() + at,
                        std::min<std::size_t>(65536, text.size() - at));
  cpg_classifier_feed(classifier, nullptr, 5);
  cpg_description d{};
  d.size = sizeof d;
  ASSERT_EQ(cpg_classifier_finish(classifier, &d), CPG_OK);
  EXPECT_EQ(d.kind, static_cast<std::uint32_t>(CPG_KIND_SHIFT_JIS));
  EXPECT_EQ(d.code_page, CPG_UNDECIDED);
  EXPECT_EQ(d.examined, text.size());
  cpg_classifier_free(classifier);
  cpg_classifier_free(nullptr);
  EXPECT_EQ(cpg_classifier_finish(nullptr, &d), CPG_ERROR_INVALID_ARGUMENT);
}

TEST(CKinds, HaveTheNamesOfTheJSON) {
  const char* names[] = {"empty",    "ascii",    "utf-8",     "utf-16le", "utf-16be",
                         "utf-32le", "utf-32be", "shift_jis", "euc-jp",   "iso-2022-jp",
                         "mixed",    "binary",   "unknown"};
  for (int kind = CPG_KIND_EMPTY; kind <= CPG_KIND_UNKNOWN; ++kind)
    EXPECT_STREQ(cpg_kind_name(kind), names[kind]);
  EXPECT_EQ(cpg_kind_name(-1), nullptr);
  EXPECT_EQ(cpg_kind_name(CPG_KIND_UNKNOWN + 1), nullptr);
}

}  // namespace
