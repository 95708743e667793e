#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>

#include "app/counting.hpp"
#include "app/helper_thread.hpp"
#include "encoding/counter_sjis.hpp"
#include "encoding/counter_utf8.hpp"
#include "encoding/kernels.hpp"
#include "test_inputs.hpp"

namespace {

using testing_support::Bytes;
using testing_support::stepEachByte;

// Whether the histograms are the counters' on the whole input, a byte at a
// time: the reference.
::testing::AssertionResult countedAsByCounters(const my::CharacterCounts& counts,
                                               const Bytes& bytes) {
  const auto utf8 = stepEachByte<my::CounterUTF8>(bytes);
  const auto sjis = stepEachByte<my::CounterSJIS>(bytes);
  for (int b = 0; b < 256; ++b) {
    if (counts.utf8[b] != utf8.counts[b] || counts.sjis[b] != sjis.counts[b])
      return ::testing::AssertionFailure()
             << "byte " << b << ": UTF-8 " << counts.utf8[b] << " for " << utf8.counts[b]
             << ", Shift_JIS " << counts.sjis[b] << " for " << sjis.counts[b];
  }
  return ::testing::AssertionSuccess();
}

const std::uint8_t* dataOf(const Bytes& bytes) {
  return bytes.empty() ? nullptr : bytes.data();
}

std::uint32_t lengthOf(const Bytes& bytes) {
  return static_cast<std::uint32_t>(bytes.size());
}

// Shift_JIS and UTF-8 lines, then some of them damaged: errors of both
// readings, characters cut, and every byte class around the idle places.
Bytes mixedText() {
  const Bytes sjis = testing_support::readExample("japanese_sjis.txt");
  const Bytes utf8 = testing_support::readExample("japanese_utf8.txt");
  Bytes text(sjis.begin(), sjis.begin() + static_cast<std::ptrdiff_t>(sjis.size() / 2));
  text.insert(text.end(), utf8.begin(), utf8.end());
  text.insert(text.end(), sjis.begin() + static_cast<std::ptrdiff_t>(sjis.size() / 2), sjis.end());
  std::mt19937 random(2026);
  return testing_support::damagedText(text, random);
}

TEST(IdleCountersAfter, FindsTheFirstASCIIByteWithinTheDistanceGiven) {
  struct Case {
    const char* text;
    std::uint32_t from, within, expected;
  };
  // After a trail from 40 to 7E the pair is whole; after 80 a UTF-8
  // sequence may go on, after 82 a Shift_JIS pair.
  const Case cases[] = {
      {"", 0, 8, 0},
      {"\x82\x82\x82", 0, 8, 3},
      {"\x82\x82 \x82", 0, 8, 3},
      {"\x82\x82 \x82", 3, 8, 4},
      {"\x82\x40\x82", 0, 8, 2},
      {"\xE3\x81\x82\x80\x82\x82\x0A\x82", 0, 4, 8},
      {"\xE3\x81\x82\x0A\x82", 0, 4, 4},
      {"\x0A\x82\x82\x82\x82", 1, 100, 5},
  };
  for (const Case& c : cases) {
    const std::string text = c.text;
    EXPECT_EQ(my::idleCountersAfter(reinterpret_cast<const std::uint8_t*>(text.data()),
                                    static_cast<std::uint32_t>(text.size()), c.from, c.within),
              c.expected)
        << "case " << &c - cases;
  }
}

TEST(CountCharactersInPieces, AddsUpToTheCountsOfTheWholeWhateverThePieces) {
  // Pieces of one byte end at every idle place; the two threads take them in
  // whatever order they come to ask.
  std::mt19937 random(7);
  for (const Bytes& bytes : {mixedText(), testing_support::randomBytes(random, 3000),
                             testing_support::biasedBytes(random, 3000), Bytes{}}) {
    for (const std::uint32_t pieceLength : {1u, 2u, 3u, 5u, 64u, 97u, 1000u, 1u << 20}) {
      my::CharacterCounts counts;
      app::countCharactersInPieces(dataOf(bytes), lengthOf(bytes), pieceLength, counts);
      ASSERT_TRUE(countedAsByCounters(counts, bytes))
          << bytes.size() << " bytes in pieces of " << pieceLength;
    }
  }
}

TEST(IdleCountersAfter, PlacesOnlyThereAddUpToTheWhole) {
  // Cut inside a character, each part loses it: why pieces end at idle places.
  const my::Kernels& kernels = my::selectedKernels();
  for (const char* text : {"\x82\xA0", "\xE3\x81\x82", "\x82\x40", "A\x82\x40"}) {
    const std::string s = text;
    const Bytes bytes(s.begin(), s.end());
    const std::uint32_t cut = my::idleCountersAfter(dataOf(bytes), lengthOf(bytes), 0, 8);
    for (std::uint32_t at = 1; at < bytes.size(); ++at) {
      my::CharacterCounts counts, rest;
      kernels.countCharacters(dataOf(bytes), at, counts);
      kernels.countCharacters(dataOf(bytes) + at, lengthOf(bytes) - at, rest);
      counts += rest;
      EXPECT_EQ(countedAsByCounters(counts, bytes), at == cut) << s << " cut at " << at;
    }
  }
}

TEST(CountCharacters, GivesTheOnePassCountsOnLongInputs) {
  // Long enough for the second thread, where the machine has two processors.
  const Bytes text = mixedText();
  std::mt19937 random(11);
  Bytes mixed;
  while (mixed.size() < (1u << 20))
    mixed.insert(mixed.end(), text.begin(), text.end());
  const Bytes noise = testing_support::randomBytes(random, 1u << 20);
  const Bytes highBytes(600u << 10, 0x82);  // no idle place: one pass
  const Bytes* const inputs[] = {&mixed, &noise, &highBytes};
  for (const Bytes* bytes : inputs) {
    my::CharacterCounts counts;
    app::countCharacters(dataOf(*bytes), lengthOf(*bytes), counts);
    EXPECT_TRUE(countedAsByCounters(counts, *bytes)) << bytes->size();
  }
}

// What runBeside() did: on which threads the two ran, and, where the helper is
// placed, whether it may then run wherever the caller may.
struct Beside {
  std::thread::id caller, worker, meanwhile;
  bool helperMayRunAsTheCallerMay = true;
};

Beside runBesideOnce() {
  Beside seen;
  seen.caller = std::this_thread::get_id();
#if defined(CODEPAGE_GUESS_PLACES_HELPER)
  cpu_set_t caller;
  pthread_getaffinity_np(pthread_self(), sizeof caller, &caller);
#endif
  std::atomic<bool> looked{false};
  auto work = [&] {
    seen.worker = std::this_thread::get_id();
#if defined(CODEPAGE_GUESS_PLACES_HELPER)
    // The caller widens the helper's processors once it is started.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    cpu_set_t helper;
    do {
      pthread_getaffinity_np(pthread_self(), sizeof helper, &helper);
      seen.helperMayRunAsTheCallerMay = CPU_EQUAL(&caller, &helper) != 0;
    } while (!seen.helperMayRunAsTheCallerMay && std::chrono::steady_clock::now() < until);
#endif
    looked = true;
  };
  // The caller waits until the helper has looked, before it could bring a late
  // one to its own processor (or a while, if no thread was started).
  app::runBeside(work, [&] {
    seen.meanwhile = std::this_thread::get_id();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!looked && std::chrono::steady_clock::now() < until) {
    }
  });
  return seen;
}

TEST(RunBeside, RunsTheWorkOnAThreadThatMayThenGoWhereverTheCallerMay) {
  const Beside seen = runBesideOnce();
  EXPECT_EQ(seen.meanwhile, seen.caller);
  EXPECT_NE(seen.worker, seen.caller);
  // Started away from the caller's processor, the helper must not stay held
  // there: the caller's processor is where it would go once the caller waits.
  EXPECT_TRUE(seen.helperMayRunAsTheCallerMay);
}

#if defined(CODEPAGE_GUESS_PLACES_HELPER)
TEST(RunBeside, BringsAHelperStillAtWorkToTheCallersProcessor) {
  cpu_set_t caller;
  ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof caller, &caller), 0);
  if (CPU_COUNT(&caller) < 2) GTEST_SKIP() << "one processor: the helper is not placed";
  int processors = 0;
  auto work = [&] {
    // Busy far past the caller's grace, until it is moved (or long after).
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    cpu_set_t helper;
    do {
      pthread_getaffinity_np(pthread_self(), sizeof helper, &helper);
      processors = CPU_COUNT(&helper);
    } while (processors > 1 && std::chrono::steady_clock::now() < until);
  };
  app::runBeside(work, [] {});
  EXPECT_EQ(processors, 1);
}

TEST(RunBeside, StartsAHelperWhenTheCallerMayRunOnOneProcessorOnly) {
  cpu_set_t before, one;
  ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof before, &before), 0);
  CPU_ZERO(&one);
  CPU_SET(static_cast<std::size_t>(sched_getcpu()), &one);
  ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof one, &one), 0);
  const Beside seen = runBesideOnce();
  pthread_setaffinity_np(pthread_self(), sizeof before, &before);
  // No other processor to start on: an ordinary thread, not none.
  EXPECT_NE(seen.worker, seen.caller);
}
#endif

}  // namespace
