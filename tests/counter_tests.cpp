#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "byte_script.hpp"
#include "encoding/char_digester.hpp"

namespace {

using testing_support::nonZero;
using testing_support::play;

struct DigestCase {
  const char* script;  // see byte_script.hpp
  std::map<int, std::uint32_t> counts;
  std::uint32_t errors;
};

void expectDigests(const char* encoding, const std::vector<DigestCase>& cases) {
  for (const DigestCase& c : cases) {
    SCOPED_TRACE(std::string(encoding) + ": " + c.script);
    const auto digester = my::createDigester(encoding);
    play(*digester, c.script);
    EXPECT_EQ(nonZero(digester->histogram()), c.counts);
    EXPECT_EQ(digester->errorCount(), c.errors);
  }
}

const std::vector<DigestCase> kUTF8Cases = {
    {"41 0A 7F 00", {}, 0},                              // ASCII is neither
    {"E3 81 82", {{0xE3, 1}, {0x81, 1}, {0x82, 1}}, 0},  // hiragana A
    {"C2 80", {{0xC2, 1}, {0x80, 1}}, 0},                // U+0080
    {"C0 80", {}, 2},                                    // overlong lead C0
    {"C1 BF", {}, 2},                                    // overlong lead C1
    {"E3 41", {}, 1},                                    // ASCII ends it, dropped
    {"E3 81 41", {}, 2},
    {"E3 81 FF", {}, 3},                                 // FF counts with the stretch
    {"E3 E3 81 82", {}, 4},                              // a lead inside is consumed
    {"E3 C3 A9", {}, 3},                                 // ... never restarts
    {"E0 9F BF", {}, 3},                                 // overlong 3-byte
    {"E0 A0 80", {{0xE0, 1}, {0xA0, 1}, {0x80, 1}}, 0},  // shortest 3-byte
    {"F0 8F BF BF", {}, 4},                              // overlong 4-byte
    {"F0 90 80 80", {{0xF0, 1}, {0x90, 1}, {0x80, 2}}, 0},
    {"F4 90 80 80", {{0xF4, 1}, {0x90, 1}, {0x80, 2}}, 0},     // above U+10FFFF passes
    {"ED A0 80", {{0xED, 1}, {0xA0, 1}, {0x80, 1}}, 0},        // surrogate passes
    {"F8 88 80 80 80", {{0xF8, 1}, {0x88, 1}, {0x80, 3}}, 0},  // 5-byte form passes
    {"F8 87 BF BF BF", {}, 5},
    {"FC 84 80 80 80 80", {{0xFC, 1}, {0x84, 1}, {0x80, 4}}, 0},
    {"FC 83 BF BF BF BF", {}, 6},
    {"E1 80 80", {{0xE1, 1}, {0x80, 2}}, 0},  // overlong test needs lead E0
    {"80", {}, 1},
    {"BF BF", {}, 2},
    {"FE", {}, 1},
    {"FF", {}, 1},
    {"E3 81", {}, 0},                                      // cut at the end: pending
    {"E3 81 | 82", {{0xE3, 1}, {0x81, 1}, {0x82, 1}}, 0},  // carried across calls
    {"E3 | 81 | | 82", {{0xE3, 1}, {0x81, 1}, {0x82, 1}}, 0},
    {"E0 | 9F", {}, 2},     // overlong test across calls
    {"E3 81 ! 82", {}, 1},  // pending dropped, 82 stray
    {"E3 81 ! 41", {}, 0},
    {"C3 A9 ! E3 81 82", {{0xC3, 1}, {0xA9, 1}, {0xE3, 1}, {0x81, 1}, {0x82, 1}}, 0},
};

TEST(CounterUTF8, CountsWellFormedSequencesAndBrokenStretches) {
  expectDigests("utf8", kUTF8Cases);
}

const std::vector<DigestCase> kSJISCases = {
    {"41 0A 7F 00", {}, 0},
    {"82 A0", {{0x82, 1}, {0xA0, 1}}, 0},  // hiragana A
    {"81 40 9F 7E E0 80 FC FC",
     {{0x81, 1}, {0x40, 1}, {0x9F, 1}, {0x7E, 1}, {0xE0, 1}, {0x80, 1}, {0xFC, 2}},
     0},               // range ends
    {"82 0A", {}, 1},  // failed trail, then ASCII
    {"82 3F", {}, 1},
    {"82 7F", {}, 1},
    {"82 FD", {}, 2},                         // failed trail, then FD itself
    {"82 82 A0", {{0x82, 2}}, 1},             // the pair first, then A0 alone
    {"82 81 40", {{0x82, 1}, {0x81, 1}}, 0},  // a lead byte can be a trail
    {"B1", {{0xB1, 1}}, 0},                   // half-width katakana
    {"A1 DF", {{0xA1, 1}, {0xDF, 1}}, 0},
    {"80", {}, 1},
    {"A0", {}, 1},
    {"FD FE FF", {}, 3},
    {"82", {}, 0},                           // cut at the end: pending
    {"82 | A0", {{0x82, 1}, {0xA0, 1}}, 0},  // carried across calls
    {"82 ! A0", {}, 1},                      // pending dropped, A0 alone
    {"82 ! B1", {{0xB1, 1}}, 0},
};

TEST(CounterSJIS, CountsPairsKatakanaAndErrors) {
  expectDigests("sjis", kSJISCases);
}

TEST(CreateDigester, MatchesNamesExactly) {
  for (const char* name : {"UTF8", "Sjis", "utf-8", "shift_jis", "", "utf8 "}) {
    SCOPED_TRACE(name);
    try {
      my::createDigester(name);
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), std::string("No such encoding: ") + name);
    }
  }
}

// Bytes drawn mostly from the values where the rules of either encoding turn.
std::vector<std::uint8_t> trickyBytes(std::mt19937& random, std::size_t size) {
  static const std::uint8_t kInteresting[] = {0x00, 0x0A, 0x3F, 0x40, 0x41, 0x7E, 0x7F, 0x80,
                                              0x81, 0x82, 0x9F, 0xA0, 0xA1, 0xBF, 0xC0, 0xC1,
                                              0xC2, 0xDF, 0xE0, 0xE3, 0xED, 0xEF, 0xF0, 0xF4,
                                              0xF7, 0xF8, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
  std::uniform_int_distribution<int> pick(0, 2 * static_cast<int>(sizeof kInteresting) - 1);
  std::vector<std::uint8_t> bytes(size);
  for (std::uint8_t& b : bytes) {
    const int i = pick(random);
    b = i < static_cast<int>(sizeof kInteresting) ? kInteresting[i]
                                                  : static_cast<std::uint8_t>(random() & 0xFF);
  }
  return bytes;
}

class EitherCounter : public ::testing::TestWithParam<const char*> {};

TEST_P(EitherCounter, SplittingTheInputChangesNothing) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 200; ++round) {
    const std::vector<std::uint8_t> bytes = trickyBytes(random, 1 + random() % 300);
    const auto whole = my::createDigester(GetParam());
    whole->digest(bytes.data(), static_cast<std::uint32_t>(bytes.size()));

    const auto pieces = my::createDigester(GetParam());
    std::size_t at = 0;
    while (at < bytes.size()) {
      const std::size_t piece = std::min<std::size_t>(random() % 8, bytes.size() - at);
      pieces->digest(bytes.data() + at, static_cast<std::uint32_t>(piece));
      at += piece;
    }
    ASSERT_EQ(nonZero(pieces->histogram()), nonZero(whole->histogram())) << "round " << round;
    ASSERT_EQ(pieces->errorCount(), whole->errorCount()) << "round " << round;
  }
}

TEST_P(EitherCounter, ClearPendingKeepsCountsAndErrors) {
  const auto digester = my::createDigester(GetParam());
  play(*digester, "82 A0 E3 81 82 FF E3");
  const auto counts = nonZero(digester->histogram());
  const std::uint32_t errors = digester->errorCount();
  digester->clearPending();
  EXPECT_EQ(nonZero(digester->histogram()), counts);
  EXPECT_EQ(digester->errorCount(), errors);
}

INSTANTIATE_TEST_SUITE_P(Counters, EitherCounter, ::testing::Values("utf8", "sjis"));

}  // namespace
