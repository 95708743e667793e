#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include "byte_script.hpp"
#include "encoding/counter_sjis.hpp"
#include "encoding/counter_utf8.hpp"
#include "encoding/kernels.hpp"
#include "encoding/kinds.hpp"
#include "encoding/shift_jis_tables.hpp"
#include "test_inputs.hpp"

// Every set of kernels this processor runs must give what the byte counters
// give: the same error-freeness and the same histograms, on any input.
namespace {

using testing_support::biasedBytes;
using testing_support::Bytes;
using testing_support::damagedText;
using testing_support::hexBytes;
using testing_support::randomBytes;
using testing_support::readExample;
using testing_support::stepEachByte;

// The strict UTF-8 check and the line finder against the classifier's own
// byte-by-byte reading.
::testing::AssertionResult sameAsClassifier(const my::Kernels& kernels, const std::uint8_t* data,
                                            const Bytes& bytes) {
  const auto length = static_cast<std::uint32_t>(bytes.size());
  my::Classifier::StrictUTF8 strict;
  bool wellFormed = true, high = false, escape = false;
  for (const std::uint8_t b : bytes) {
    wellFormed = strict.step(b) && wellFormed;
    high = high || b >= 0x80;
    escape = escape || b == 0x1B;
  }
  const my::UTF8Check check = kernels.checkUTF8Strictly(data, length);
  if (check.wellFormed != wellFormed)
    return ::testing::AssertionFailure() << "strict UTF-8 validity differs";
  if (wellFormed && (check.high != high || (!high && check.escape != escape)))
    return ::testing::AssertionFailure() << "high bytes or ESC differ";

  // Every line that is UTF-8 (high bytes, no error; a cut at the end is
  // none) must be among those the finder offers, and each offered holds a
  // byte from 80 up.
  // A line breaks both readings when it has high bytes, a UTF-8 error and a
  // Shift_JIS error (the counter's, whose reading starts afresh at a newline).
  std::vector<std::uint32_t> utf8Lines, offered;
  bool brokenLine = false;
  for (std::uint32_t start = 0; start < length;) {
    my::Classifier::StrictUTF8 line;
    my::CounterSJIS sjis;
    bool fine = true, lineHigh = false;
    std::uint32_t end = start;
    while (end < length) {
      fine = line.step(bytes[end]) && fine;
      sjis.step(bytes[end]);
      lineHigh = lineHigh || bytes[end] >= 0x80;
      if (bytes[end++] == '\n') break;
    }
    if (fine && lineHigh) utf8Lines.push_back(start);
    brokenLine = brokenLine || (lineHigh && !fine && sjis.errors != 0);
    start = end;
  }
  for (std::uint32_t from = 0; from < length;) {
    const std::uint32_t start = kernels.nextUTF8Line(data, length, from);
    if (start < from || start > length)
      return ::testing::AssertionFailure() << "line start " << start << " out of range";
    if (start == length) break;
    offered.push_back(start);
    std::uint32_t end = start;
    bool lineHigh = false;
    while (end < length) {
      lineHigh = lineHigh || bytes[end] >= 0x80;
      if (bytes[end++] == '\n') break;
    }
    if (!lineHigh) return ::testing::AssertionFailure() << "offered line " << start << " is ASCII";
    from = end;
  }
  for (const std::uint32_t start : utf8Lines) {
    if (std::find(offered.begin(), offered.end(), start) == offered.end())
      return ::testing::AssertionFailure() << "the UTF-8 line at " << start << " was passed over";
  }
  // The same from the pass that checks Shift_JIS.
  const my::ShiftJISLines both = kernels.checkShiftJISLines(data, length);
  if (both.errorFree != kernels.isErrorFreeSJIS(data, length))
    return ::testing::AssertionFailure() << "Shift_JIS validity with lines differs";
  const std::uint32_t first = offered.empty() ? length : offered.front();
  if (both.errorFree && both.utf8Line != first)
    return ::testing::AssertionFailure()
           << "first line " << both.utf8Line << " with Shift_JIS, " << first << " alone";
  // EUC-JP as the classifier reads it, with a character cut by the end.
  my::Classifier::EUCJPReading euc;
  for (const std::uint8_t b : bytes)
    euc.step(b);
  const my::EUCJPCheck eucCheck = kernels.checkEUCJP(data, length);
  if (eucCheck.errorFree == euc.broken)
    return ::testing::AssertionFailure() << "EUC-JP validity differs";
  if (eucCheck.errorFree && eucCheck.cutShort != (euc.need != 0))
    return ::testing::AssertionFailure() << "EUC-JP's last character cut short or not";
  if (both.brokenLine != brokenLine)
    return ::testing::AssertionFailure() << "a line that breaks both readings is "
                                         << (brokenLine ? "missed" : "seen where there is none");
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult sameAsCounters(const my::Kernels& kernels, const Bytes& bytes) {
  const auto utf8 = stepEachByte<my::CounterUTF8>(bytes);
  const auto sjis = stepEachByte<my::CounterSJIS>(bytes);
  // An exact-size copy, so that the address sanitizer sees any read past it.
  const std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size() + 1]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  const std::uint8_t* data = bytes.empty() ? nullptr : copy.get();
  const auto length = static_cast<std::uint32_t>(bytes.size());

  if (kernels.isErrorFreeUTF8(data, length) != (utf8.errors == 0))
    return ::testing::AssertionFailure()
           << "UTF-8 validity differs, counter errors " << utf8.errors;
  if (kernels.isErrorFreeSJIS(data, length) != (sjis.errors == 0))
    return ::testing::AssertionFailure()
           << "Shift_JIS validity differs, counter errors " << sjis.errors;
  if (const auto same = sameAsClassifier(kernels, data, bytes); !same) return same;
  my::CharacterCounts counts;
  kernels.countCharacters(data, length, counts);
  for (int b = 0; b < 256; ++b) {
    if (counts.utf8[b] != utf8.counts[b])
      return ::testing::AssertionFailure()
             << "UTF-8 count of byte " << b << ": " << counts.utf8[b] << " for " << utf8.counts[b];
    if (counts.sjis[b] != sjis.counts[b])
      return ::testing::AssertionFailure() << "Shift_JIS count of byte " << b << ": "
                                           << counts.sjis[b] << " for " << sjis.counts[b];
  }
  return ::testing::AssertionSuccess();
}

class KernelsMatchCounters : public ::testing::TestWithParam<const my::Kernels*> {};

INSTANTIATE_TEST_SUITE_P(EveryRunnable, KernelsMatchCounters,
                         ::testing::ValuesIn(my::runnableKernels()),
                         [](const auto& test) { return std::string(test.param->name); });

TEST_P(KernelsMatchCounters, OnTheRulesEdges) {
  const char* const cases[] = {
      "",
      "41 0A",
      "E3 81 82",
      "E3 81",        // cut by the end
      "82",           // a lead left pending
      "FF 41",        // an error at byte 0
      "E3 81 82 FF",  // ... and in the last byte
      "C0 80",
      "C1 BF",
      "E0 9F BF",
      "F0 8F BF BF",
      "F8 87 BF BF BF",
      "FC 83 BF BF BF BF",
      "E0 A0 80",
      "F0 90 80 80",
      "F8 88 80 80 80",
      "FC 84 80 80 80 80",
      "E3 E3 81 82",              // a lead inside a sequence is consumed
      "E3 E3 E3 81 82",           // ... so the third starts one again
      "F0 90 E3 81 82",           // broken at distance 2
      "F0 80 E3 81 82",           // overlong second byte ends it before the lead
      "FC 80 80 80 E3 81 82",     // broken at distance 4
      "FC 84 80 80 80 E3 81 82",  // broken at distance 5
      "C2 41 80",
      "E3 81 C3 A9",
      "DF E3 E3 E3 E3 E3 81 82",
      "ED 9F BF",                 // the last code point before the surrogates
      "ED A0 80",                 // a surrogate: the counter takes it, Unicode does not
      "F4 8F BF BF",              // U+10FFFF
      "F4 90 80 80",              // beyond it
      "F5 80 80 80",              // a lead Unicode never uses
      "C0",                       // ... nor C0, even cut by the end
      "1B 24 42 30 21 1B 28 42",  // JIS escapes, all ASCII
      "E3 81 0A 82 0A 41",        // a sequence cut by a line's end
      "82 A0",
      "82 0A",
      "82 FD",
      "82 82 A0",
      "81 81 81 A0",
      "81 81 81 0A",
      "B1 80 A0",
      "82 7F",
      "82 40 82 7E",
      "FC FC FC",
      "9F 3F FF FE FD",
  };
  for (const char* hex : cases)
    EXPECT_TRUE(sameAsCounters(*GetParam(), hexBytes(hex))) << hex;
}

TEST_P(KernelsMatchCounters, OnEveryCutOfRealText) {
  // Every length from 0 to past two blocks: a character cut at every place,
  // at every distance from a block boundary.
  for (const char* name : {"japanese_utf8.txt", "japanese_sjis.txt"}) {
    const Bytes text = readExample(name);
    for (std::size_t length = 0; length <= 200 && length <= text.size(); ++length)
      ASSERT_TRUE(sameAsCounters(
          *GetParam(), Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length))))
          << name << " cut at " << length;
  }
}

TEST_P(KernelsMatchCounters, WithAnErrorAtEveryOffsetAroundBlockBoundaries) {
  for (const char* name : {"japanese_utf8.txt", "japanese_sjis.txt"}) {
    const Bytes text = readExample(name);
    const Bytes head(
        text.begin(),
        text.begin() + std::min<std::ptrdiff_t>(260, static_cast<std::ptrdiff_t>(text.size())));
    for (const int bad : {0xFF, 0x80, 0xE3, 0x0A, 0x82}) {
      for (std::size_t at = 0; at < head.size(); ++at) {
        Bytes bytes = head;
        bytes[at] = static_cast<std::uint8_t>(bad);
        ASSERT_TRUE(sameAsCounters(*GetParam(), bytes)) << name << ": " << bad << " at " << at;
      }
    }
  }
}

TEST_P(KernelsMatchCounters, OnRunsAcrossBlockBoundaries) {
  // Runs of lead bytes pair up (Shift_JIS) or break each other (UTF-8) from
  // their start, however far back in earlier blocks that is.
  for (const int lead : {0x81, 0xE3, 0xC2, 0xF8, 0xFC}) {
    for (const int after : {0xA0, 0x0A, 0x80, 0x41}) {
      for (std::size_t run = 1; run < 140; ++run) {
        Bytes bytes(run % 7, 0x41);
        bytes.insert(bytes.end(), run, static_cast<std::uint8_t>(lead));
        bytes.push_back(static_cast<std::uint8_t>(after));
        bytes.insert(bytes.end(), run % 5, 0x80);
        ASSERT_TRUE(sameAsCounters(*GetParam(), bytes)) << lead << " x" << run << " then " << after;
      }
    }
  }
}

TEST_P(KernelsMatchCounters, CountOneCharacterRepeatedPastWhatAnEntryOfTheTablesHolds) {
  // One character over 1.5 MiB puts its bytes into the same few entries of
  // the histograms, up to 16 times a block and 393,216 times in all: more
  // than any entry narrower than 32 bits holds.
  for (const char* unit : {"82 A0", "E3 81 82", "82 A0 0A", "FF"}) {
    const Bytes one = hexBytes(unit);
    Bytes bytes;
    while (bytes.size() < (3u << 19))
      bytes.insert(bytes.end(), one.begin(), one.end());
    EXPECT_TRUE(sameAsCounters(*GetParam(), bytes)) << unit;
  }
}

TEST_P(KernelsMatchCounters, FindUTF8LinesWhateverTheLinesBeforeThemCarryAcrossBlocks) {
  // A Shift_JIS line whose first high byte could lead UTF-8 (E0) and which
  // goes on into the next blocks, its kana there (82 A0) leading no line;
  // then, after ASCII, a line of UTF-8, its newline and first high byte at
  // every distance from the blocks' ends.
  for (std::size_t before = 0; before < 140; ++before) {
    for (const std::size_t ascii : {0u, 5u, 30u, 63u, 64u, 70u, 130u}) {
      Bytes bytes(before, 'a');
      for (const char* hex :
           {"E0 40", "82 A0 82 A0 82 A0 82 A0 82 A0 82 A0 82 A0 82 A0 82 A0 0A"}) {
        const Bytes more = hexBytes(hex);
        bytes.insert(bytes.end(), more.begin(), more.end());
      }
      bytes.insert(bytes.end(), ascii, 'b');
      const Bytes utf8Line = hexBytes("C3 A9 0A 82 A0 0A");
      bytes.insert(bytes.end(), utf8Line.begin(), utf8Line.end());
      ASSERT_TRUE(sameAsCounters(*GetParam(), bytes)) << before << " then " << ascii;
    }
  }
}

// EUC-JP's characters of one, two and three bytes (8E and 8F lead the
// short and long ones) at every distance from a block's end, whole, cut short
// and with a byte that breaks them (a pair's lead before ASCII among them,
// which breaks a block of nothing but pairs); and real EUC-JP cut everywhere.
TEST_P(KernelsMatchCounters, ReadEUCJPAsTheClassifierDoes) {
  const char* const characters[] = {"B0 A1", "8E B1",    "8F B0 A1",    "8E E0",      "8F B0 41",
                                    "8F 41", "8E 8E B1", "8F 8F B0 A1", "B0 8E",      "A0",
                                    "FF",    "8D",       "B0 41",       "FE FE FE 0A"};
  for (const char* hex : characters) {
    for (std::size_t before = 0; before < 70; ++before) {
      Bytes bytes(before, 0x41);
      const Bytes character = hexBytes(hex);
      for (std::size_t copies = 0; copies < 3; ++copies) {
        bytes.insert(bytes.end(), character.begin(), character.end());
        for (std::size_t cut = bytes.size() - character.size(); cut <= bytes.size(); ++cut)
          ASSERT_TRUE(sameAsCounters(
              *GetParam(), Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut))))
              << hex << " after " << before << ", cut at " << cut;
      }
    }
  }
  const Bytes text = testing_support::readTestSample("japanese_eucjp.txt");
  for (std::size_t length = 0; length <= 300 && length <= text.size(); ++length)
    ASSERT_TRUE(sameAsCounters(
        *GetParam(), Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length))))
        << "cut at " << length;
  for (const int bad : {0xFF, 0x8E, 0x8F, 0xA0, 0x0A}) {
    for (std::size_t at = 0; at < 200 && at < text.size(); ++at) {
      Bytes bytes(text.begin(), text.begin() + std::min<std::ptrdiff_t>(
                                                   260, static_cast<std::ptrdiff_t>(text.size())));
      bytes[at] = static_cast<std::uint8_t>(bad);
      ASSERT_TRUE(sameAsCounters(*GetParam(), bytes)) << bad << " at " << at;
    }
  }
}

TEST_P(KernelsMatchCounters, OnRandomBiasedAndDamagedInput) {
  std::mt19937 random(10);
  for (int round = 0; round < 300; ++round) {
    ASSERT_TRUE(sameAsCounters(*GetParam(), randomBytes(random, random() % 600))) << round;
    ASSERT_TRUE(sameAsCounters(*GetParam(), biasedBytes(random, random() % 600))) << round;
  }
  for (const char* name : {"japanese_utf8.txt", "japanese_sjis.txt", "ascii.txt"}) {
    const Bytes text = readExample(name);
    ASSERT_TRUE(sameAsCounters(*GetParam(), text)) << name;
    for (int round = 0; round < 60; ++round)
      ASSERT_TRUE(sameAsCounters(*GetParam(), damagedText(text, random))) << name << round;
  }
}

#if defined(__linux__)
// Shared memory that a child process rewrites over and over, as another
// program may rewrite a mapped file while it is read. The writer is killed
// and reaped, and the memory unmapped, when this goes; it dies with the test
// too, if that dies first, instead of spinning on.
class RewrittenMemory {
 public:
  explicit RewrittenMemory(std::uint32_t size) : size_(size) {
    void* shared = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared != MAP_FAILED) bytes_ = static_cast<std::uint8_t*>(shared);
  }
  RewrittenMemory(const RewrittenMemory&) = delete;
  RewrittenMemory& operator=(const RewrittenMemory&) = delete;
  ~RewrittenMemory() {
    if (writer_ > 0) {
      ::kill(writer_, SIGKILL);
      ::waitpid(writer_, nullptr, 0);
    }
    if (bytes_ != nullptr) ::munmap(bytes_, size_);
  }

  std::uint8_t* bytes() const noexcept { return bytes_; }

  // Starts the writer, which calls `write(bytes, round)` for round 0, 1, 2
  // and on until killed; false if it could not be started.
  template <typename Write>
  bool startWriter(Write write) {
    if (bytes_ == nullptr) return false;
    const pid_t parent = ::getpid();
    writer_ = ::fork();
    if (writer_ == 0) {
      if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(0);
      auto* volatile target = static_cast<volatile std::uint8_t*>(bytes_);
      for (std::uint32_t round = 0;; ++round)
        write(target, round);
    }
    return writer_ > 0;
  }

 private:
  std::uint8_t* bytes_ = nullptr;
  std::uint32_t size_;
  pid_t writer_ = -1;
};

// Another program may rewrite a mapped file in place while it is read. Each
// pass must then still count some content the bytes had: one that reads a
// byte twice can take back a count it never gave, and the count wraps. A
// child process flips shared bytes between values that the Shift_JIS reading
// counts (A1), takes for errors (A0, FF) and passes over (41).
TEST_P(KernelsMatchCounters, CountWhatTheBytesHeldWhileAnotherProcessRewritesThem) {
  constexpr std::uint32_t kSize = 1 << 16;
  RewrittenMemory memory(kSize);
  ASSERT_NE(memory.bytes(), nullptr);
  std::memset(memory.bytes(), 0xA0, kSize);
  ASSERT_TRUE(memory.startWriter([](volatile std::uint8_t* target, std::uint32_t round) {
    const std::uint8_t values[] = {0xA0, 0x41, 0xFF, 0xA1};
    for (std::uint32_t i = 0; i < kSize; ++i)
      target[i] = values[round % 4];
  }));
  my::CharacterCounts counts;
  std::string wrong;
  for (int round = 0; round < 3000 && wrong.empty(); ++round) {
    GetParam()->countCharacters(memory.bytes(), kSize, counts);
    std::uint64_t utf8Total = 0, sjisTotal = 0;
    for (int b = 0; b < 256; ++b) {
      utf8Total += counts.utf8[b];
      sjisTotal += counts.sjis[b];
      if ((b < 0x80 && counts.utf8[b] != 0) || (b < 0x40 && counts.sjis[b] != 0))
        wrong = "byte " + std::to_string(b) + " counted";
    }
    if (utf8Total > kSize || sjisTotal > kSize)
      wrong =
          "more counted than read: " + std::to_string(utf8Total) + ", " + std::to_string(sjisTotal);
  }
  EXPECT_EQ(wrong, "");
}

// The Shift_JIS decoder reads a pair's bytes again to look it up, after
// their classes said it is one. Whatever they have become meanwhile, the
// lookup must stay within the tables (the sanitizers' build tells a read
// outside them; without it, the vector kernels' reads fell far outside),
// and the decoder within the input and the room it has. A child process
// turns pairs (88 9F; FC 4B, of the last row) into bytes that are no pair
// (00, 7F, FF).
TEST_P(KernelsMatchCounters, DecodeWithinTheTablesWhileAnotherProcessRewritesTheBytes) {
  if (GetParam()->decodeShiftJIS == nullptr) GTEST_SKIP() << "no block decoder in this build";
  constexpr std::uint32_t kSize = 1 << 16;
  RewrittenMemory memory(kSize);
  ASSERT_NE(memory.bytes(), nullptr);
  for (std::uint32_t i = 0; i < kSize; i += 2) {
    memory.bytes()[i] = 0x88;
    memory.bytes()[i + 1] = 0x9F;
  }
  ASSERT_TRUE(memory.startWriter([](volatile std::uint8_t* target, std::uint32_t round) {
    const std::uint8_t values[][2] = {{0x00, 0x00}, {0x88, 0x9F}, {0xFF, 0x7F}, {0xFC, 0x4B}};
    const std::uint8_t* pair = values[round % 4];
    for (std::uint32_t i = 0; i < kSize; i += 2) {
      target[i] = pair[0];
      target[i + 1] = pair[1];
    }
  }));
  const my::ShiftJISTables& tables = my::shiftJISTables();
  std::vector<std::uint8_t> out(3 * kSize + 256);
  std::string wrong;
  for (int round = 0; round < 3000 && wrong.empty(); ++round) {
    std::size_t written = 0;
    const std::size_t read = GetParam()->decodeShiftJIS(tables, memory.bytes(), kSize, out.data(),
                                                        out.size(), round % 2 == 0, written);
    if (read > kSize || written > out.size() || written > 3 * read)
      wrong = "read " + std::to_string(read) + ", wrote " + std::to_string(written);
  }
  EXPECT_EQ(wrong, "");
}
#endif

TEST(SelectedKernels, AreTheWidestThisProcessorRuns) {
  const my::Kernels& selected = my::selectedKernels();
  EXPECT_EQ(&selected, my::runnableKernels().front());
  // Set where the processor is known, an emulated one for instance.
  if (const char* expected = std::getenv("CODEPAGE_GUESS_EXPECT_KERNELS")) {
    EXPECT_STREQ(selected.name, expected);
  }
#if defined(CODEPAGE_GUESS_X86_KERNELS) && (defined(__GNUC__) || defined(__clang__))
  // The AVX2 kernels also take the bit instructions every such processor has.
  const bool wide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                    __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
  EXPECT_STREQ(selected.name, wide ? "avx2" : "sse2");
#elif !defined(CODEPAGE_GUESS_X86_KERNELS)
  EXPECT_STREQ(selected.name, "portable");
#endif
}

}  // namespace
