#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "byte_script.hpp"
#include "encoding/candidates.hpp"
#include "encoding/char_digester.hpp"
#include "encoding/conjecture.hpp"
#include "encoding/encoding_name.hpp"
#include "test_inputs.hpp"

namespace {

using testing_support::hexBytes;

constexpr std::array<const char*, 2> kToolCandidates = my::candidateNames();
constexpr std::size_t kUndecided = kToolCandidates.size();

// The verdict, after checking that the full reading gives the same.
std::size_t verdictOn(const std::vector<std::uint8_t>& bytes) {
  const auto length = static_cast<std::uint32_t>(bytes.size());
  const std::size_t verdict = my::conjectureEncoding(kToolCandidates, bytes.data(), length);
  EXPECT_EQ(my::conjectureByDigesters(kToolCandidates, bytes.data(), length), verdict);
  return verdict;
}

std::size_t verdictFor(const std::string& hex) {
  return verdictOn(hexBytes(hex));
}

double scoreFor(const char* encoding, const std::string& hex) {
  const std::vector<std::uint8_t> bytes = hexBytes(hex);
  const auto digester = my::createDigester(encoding);
  digester->digest(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  return my::cosineSimilarity(digester->histogram(), my::referenceProfile(encoding));
}

TEST(ConjectureEncoding, DecidesTheToolsCandidates) {
  struct Case {
    const char* hex;
    std::size_t verdict;
    const char* why;
  } cases[] = {
      {"", kUndecided, "nothing to go on"},
      {"48 65 6C 6C 6F 0A", kUndecided, "ASCII leaves both empty and error-free"},
      {"E3 81 82", 0, "both error-free: scores decide"},
      {"82 A0", 1, "only Shift_JIS is error-free"},
      {"63 61 66 C3 A9", 1, "both error-free; C3 A9 look like two katakana"},
      {"63 61 66 E9", kUndecided, "E9 is pending in both: empty histograms"},
      {"E3 81 82 FF", 0, "both have errors: scores decide"},
      {"FF FF", kUndecided, "both have errors and empty histograms"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(verdictFor(c.hex), c.verdict) << c.hex << ": " << c.why;
  }
}

TEST(ConjectureEncoding, TakesTheCandidatesInTheToolsOrderByNameOrByEncoding) {
  EXPECT_STREQ(kToolCandidates[0], "utf8");
  EXPECT_STREQ(kToolCandidates[1], "sjis");
  for (const my::Candidate& candidate : my::kCandidates)
    EXPECT_EQ(my::encodingNamed(candidate.name), candidate.encoding) << candidate.name;
  EXPECT_EQ(my::codePageOf(0), 65001);
  EXPECT_EQ(my::codePageOf(1), 932);
  EXPECT_EQ(my::codePageOf(2), 0);
}

TEST(ConjectureEncoding, AcceptsAnEmptyBlockWithoutData) {
  EXPECT_EQ(my::conjectureEncoding(kToolCandidates, nullptr, 0), kUndecided);
}

TEST(CosineSimilarity, ScoresOfTheSmallCases) {
  EXPECT_NEAR(scoreFor("utf8", "E3 81 82"), 0.866, 0.0005);
  EXPECT_NEAR(scoreFor("sjis", "E3 81 82"), 0.165, 0.0005);
  EXPECT_NEAR(scoreFor("utf8", "63 61 66 C3 A9"), 0.0100, 0.00005);
  EXPECT_NEAR(scoreFor("sjis", "63 61 66 C3 A9"), 0.0292, 0.00005);
  EXPECT_NEAR(scoreFor("utf8", "E3 81 82 FF"), 0.866, 0.0005);
  EXPECT_NEAR(scoreFor("sjis", "E3 81 82 FF"), 0.165, 0.0005);
  EXPECT_EQ(scoreFor("utf8", "41 42 43"), 0.0);
}

TEST(CosineSimilarity, IsOneForAHistogramShapedLikeTheProfile) {
  const double* profile = my::referenceProfile("sjis");
  std::uint32_t histogram[256];
  for (int b = 0; b < 256; ++b)
    histogram[b] = static_cast<std::uint32_t>(profile[b] * 1e6 + 0.5);
  EXPECT_NEAR(my::cosineSimilarity(histogram, profile), 1.0, 1e-9);
}

TEST(ConjectureEncoding, BreaksTiesTowardsTheEarlierCandidate) {
  const std::vector<std::uint8_t> hiragana = hexBytes("E3 81 82");
  const auto length = static_cast<std::uint32_t>(hiragana.size());
  // All three are error-free; the two "utf8" entries tie on the best score.
  EXPECT_EQ(my::conjectureEncoding(std::array<const char*, 3>{"sjis", "utf8", "utf8"},
                                   hiragana.data(), length),
            1u);
  EXPECT_EQ(
      my::conjectureEncoding(std::array<const char*, 2>{"utf8", "utf8"}, hiragana.data(), length),
      0u);
  // A single error-free candidate wins even where another would score higher.
  EXPECT_EQ(my::conjectureEncoding(std::array<const char*, 2>{"sjis", "utf8"},
                                   hexBytes("82 A0").data(), 2),
            0u);
}

TEST(ConjectureEncoding, AgreesWithTheFullReadingOnMixedAndDamagedText) {
  using testing_support::Bytes;
  std::mt19937 random(20);
  const Bytes utf8 = testing_support::readExample("japanese_utf8.txt");
  const Bytes sjis = testing_support::readExample("japanese_sjis.txt");
  const Bytes ascii = testing_support::readExample("ascii.txt");
  const Bytes* texts[] = {&utf8, &sjis, &ascii};
  // Pieces of different texts pasted together, then damaged: both readings
  // meet errors somewhere, or neither, or one, and the histograms decide.
  for (int round = 0; round < 300; ++round) {
    Bytes bytes;
    const std::uint32_t pieces = 1 + random() % 4;
    for (std::uint32_t p = 0; p < pieces; ++p) {
      const Bytes& text = *texts[random() % 3];
      const std::size_t from = random() % text.size();
      const std::size_t to = std::min(text.size(), from + random() % 400);
      bytes.insert(bytes.end(), text.begin() + static_cast<std::ptrdiff_t>(from),
                   text.begin() + static_cast<std::ptrdiff_t>(to));
    }
    if (!bytes.empty() && random() % 2 == 0)
      bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random() & 0xFF);
    SCOPED_TRACE(round);
    verdictOn(bytes);
  }
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE(round);
    verdictOn(testing_support::randomBytes(random, random() % 300));
    verdictOn(testing_support::biasedBytes(random, random() % 300));
  }
}

TEST(ReferenceProfile, MatchesNamesExactly) {
  EXPECT_NE(my::referenceProfile("sjis"), my::referenceProfile("utf8"));
  for (const char* name : {"SJIS", "Utf8", "utf-8", ""}) {
    SCOPED_TRACE(name);
    try {
      my::referenceProfile(name);
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), std::string("no such encoding: ") + name);
    }
  }
}

TEST(ConjectureEncoding, ReportsAnUnknownCandidateFromTheDigesterLookup) {
  const std::vector<std::uint8_t> bytes = hexBytes("41");
  try {
    my::conjectureEncoding(std::array<const char*, 2>{"utf8", "Sjis"}, bytes.data(), 1);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "No such encoding: Sjis");
  }
}

TEST(ConjectureEncoding, ReportsAnUnknownCandidateBeforeDeciding) {
  // "82 A0" is valid Shift_JIS only: the validity checks alone would decide.
  const std::vector<std::uint8_t> bytes = hexBytes("82 A0");
  for (const auto& names :
       {std::array<const char*, 2>{"sjis", "UTF8"}, std::array<const char*, 2>{"utf-8", "sjis"}}) {
    try {
      my::conjectureEncoding(names, bytes.data(), 2);
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
      const std::string unknown = std::string(names[0]) == "sjis" ? names[1] : names[0];
      EXPECT_EQ(error.what(), "No such encoding: " + unknown);
    }
  }
}

}  // namespace
