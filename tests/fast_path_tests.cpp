#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "encoding/counter_sjis.hpp"
#include "encoding/counter_utf8.hpp"
#include "test_inputs.hpp"

// The counters' block loops take shortcuts (ASCII runs, whole pairs, whole
// sequences from one load); each must leave exactly the state that feeding the
// same bytes one at a time to step() leaves.
namespace {

using testing_support::biasedBytes;
using testing_support::Bytes;
using testing_support::damagedText;
using testing_support::randomBytes;
using testing_support::readExample;
using testing_support::stepEachByte;

// Feeds the bytes to digest() in pieces of random length, from empty to whole.
template <typename Counter>
Counter digestInPieces(const Bytes& bytes, std::mt19937& random, std::uint32_t longestPiece) {
  Counter counter;
  std::size_t at = 0;
  do {
    const std::size_t piece =
        std::min<std::size_t>(random() % (longestPiece + 1), bytes.size() - at);
    counter.digest(bytes.data() + at, static_cast<std::uint32_t>(piece));
    at += piece;
  } while (at < bytes.size());
  return counter;
}

template <typename Counter>
void expectSameState(const Counter& fast, const Counter& plain) {
  ASSERT_TRUE(std::equal(std::begin(fast.counts), std::end(fast.counts), std::begin(plain.counts)));
  ASSERT_EQ(fast.errors, plain.errors);
  // What is pending must match too: finish both with the same tail.
  Counter fastTail = fast;
  Counter plainTail = plain;
  const std::uint8_t tail[] = {0x80, 0x80, 0x80, 0x80, 0x80, 0x41};
  for (const std::uint8_t b : tail)
    plainTail.step(b);
  fastTail.digest(tail, sizeof tail);
  ASSERT_TRUE(std::equal(std::begin(fastTail.counts), std::end(fastTail.counts),
                         std::begin(plainTail.counts)));
  ASSERT_EQ(fastTail.errors, plainTail.errors);
}

template <typename Counter>
class FastPath : public ::testing::Test {};

using Counters = ::testing::Types<my::CounterUTF8, my::CounterSJIS>;
TYPED_TEST_SUITE(FastPath, Counters);

template <typename Counter>
void checkAgainstStep(const Bytes& bytes, std::mt19937& random) {
  const Counter plain = stepEachByte<Counter>(bytes);
  expectSameState(digestInPieces<Counter>(bytes, random, static_cast<std::uint32_t>(bytes.size())),
                  plain);
  expectSameState(digestInPieces<Counter>(bytes, random, 40), plain);
  expectSameState(digestInPieces<Counter>(bytes, random, 9), plain);
  Counter whole;
  whole.digest(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  expectSameState(whole, plain);
}

TYPED_TEST(FastPath, MatchesStepOnRandomBytes) {
  std::mt19937 random(1);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    checkAgainstStep<TypeParam>(randomBytes(random, random() % 2000), random);
  }
}

TYPED_TEST(FastPath, MatchesStepOnBiasedBytes) {
  std::mt19937 random(2);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    checkAgainstStep<TypeParam>(biasedBytes(random, random() % 2000), random);
  }
}

TYPED_TEST(FastPath, MatchesStepOnRealText) {
  std::mt19937 random(3);
  for (const char* name : {"japanese_utf8.txt", "japanese_sjis.txt", "ascii.txt"}) {
    const Bytes text = readExample(name);
    SCOPED_TRACE(name);
    checkAgainstStep<TypeParam>(text, random);
    for (int round = 0; round < 100; ++round)
      checkAgainstStep<TypeParam>(damagedText(text, random), random);
  }
}

TYPED_TEST(FastPath, MatchesStepOnEveryShortSequenceAtTheEnd) {
  // Every lead byte followed by every continuation-ish second byte, placed at
  // each distance from the end of the block so the wide load is and is not
  // possible.
  for (unsigned lead = 0x80; lead < 0x100; ++lead) {
    for (unsigned second = 0x00; second < 0x100; second += 3) {
      for (std::size_t padding = 0; padding < 10; ++padding) {
        Bytes bytes(4, 0x41);
        bytes.push_back(static_cast<std::uint8_t>(lead));
        bytes.push_back(static_cast<std::uint8_t>(second));
        bytes.insert(bytes.end(), padding, static_cast<std::uint8_t>(0x80 | (padding * 7 % 0x40)));
        const TypeParam plain = stepEachByte<TypeParam>(bytes);
        TypeParam whole;
        whole.digest(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        ASSERT_NO_FATAL_FAILURE(expectSameState(whole, plain))
            << std::hex << lead << " " << second << " +" << padding;
      }
    }
  }
}

}  // namespace
