#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/run.hpp"
#include "byte_script.hpp"
#include "codepage_guess.h"
#include "test_inputs.hpp"

namespace {

using testing_support::Bytes;
using testing_support::hexBytes;

int toolVerdict(const std::string& path) {
  try {
    const int codePages[] = {CPG_UTF8, CPG_SHIFT_JIS, CPG_UNDECIDED};
    return codePages[app::conjectureFile(path.c_str())];
  } catch (const std::exception&) {
    return -1;
  }
}

int streamed(const Bytes& bytes, const std::vector<std::size_t>& cuts) {
  cpg_stream* stream = cpg_stream_new();
  EXPECT_NE(stream, nullptr);
  std::size_t from = 0;
  for (const std::size_t cut : cuts) {
    cpg_stream_feed(stream, bytes.data() + from, cut - from);
    from = cut;
  }
  cpg_stream_feed(stream, bytes.data() + from, bytes.size() - from);
  const int verdict = cpg_stream_finish(stream);
  cpg_stream_free(stream);
  return verdict;
}

Bytes readFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

TEST(CApi, ReportsTheProjectsVersion) {
  EXPECT_STREQ(cpg_version(), CPG_VERSION_STRING);
  EXPECT_STREQ(cpg_version(), CODEPAGE_GUESS_VERSION);
  EXPECT_EQ(std::to_string(CPG_VERSION_MAJOR) + "." + std::to_string(CPG_VERSION_MINOR) + "." +
                std::to_string(CPG_VERSION_PATCH),
            CPG_VERSION_STRING);
}

TEST(CApi, TakesEmptyAndNullInputAsUndecided) {
  const std::uint8_t byte = 0x82;
  EXPECT_EQ(cpg_guess(nullptr, 0), CPG_UNDECIDED);
  EXPECT_EQ(cpg_guess(nullptr, 100), CPG_UNDECIDED);
  EXPECT_EQ(cpg_guess(&byte, 0), CPG_UNDECIDED);

  cpg_explanation explanation{};
  explanation.size = sizeof explanation;
  for (const std::size_t size : {std::size_t{0}, std::size_t{100}}) {
    ASSERT_EQ(cpg_explain(nullptr, size, &explanation), CPG_OK);
    EXPECT_EQ(explanation.code_page, CPG_UNDECIDED);
    EXPECT_EQ(explanation.rule, CPG_RULE_UNDECIDED);
    EXPECT_EQ(explanation.candidates[0].errors, 0u);
    EXPECT_EQ(explanation.candidates[1].score, 0.0);
  }
  EXPECT_EQ(cpg_explain(&byte, 1, nullptr), CPG_ERROR_INVALID_ARGUMENT);

  cpg_stream_feed(nullptr, &byte, 1);
  EXPECT_EQ(cpg_stream_finish(nullptr), CPG_UNDECIDED);
  cpg_stream_free(nullptr);
  cpg_stream* stream = cpg_stream_new();
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(cpg_stream_finish(stream), CPG_UNDECIDED);
  cpg_stream_feed(stream, nullptr, 100);
  cpg_stream_feed(stream, &byte, 0);
  EXPECT_EQ(cpg_stream_finish(stream), CPG_UNDECIDED);
  cpg_stream_free(stream);

  int codePage = 5;
  EXPECT_EQ(cpg_guess_file(nullptr, &codePage), CPG_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(codePage, CPG_UNDECIDED);
  EXPECT_EQ(cpg_guess_file("README.md", nullptr), CPG_ERROR_INVALID_ARGUMENT);
}

TEST(CApi, GivesTheToolsVerdictOnTheExamplesAndTheFuzzCorpus) {
  std::vector<std::filesystem::path> files;
  for (const auto* folder : {CODEPAGE_GUESS_EXAMPLES_DIR, CODEPAGE_GUESS_CORPUS_DIR}) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.is_regular_file() && (folder != std::string(CODEPAGE_GUESS_EXAMPLES_DIR) ||
                                      entry.path().extension() == ".txt"))
        files.push_back(entry.path());
    }
  }
  ASSERT_GT(files.size(), 5u);
  int decided = 0;
  for (const auto& path : files) {
    SCOPED_TRACE(path.string());
    const Bytes bytes = readFile(path);
    const int tool = toolVerdict(path.string());
    int fromFile = -1;
    const cpg_status status = cpg_guess_file(path.string().c_str(), &fromFile);
    if (bytes.empty()) {
      EXPECT_EQ(tool, -1);
      EXPECT_EQ(status, CPG_ERROR_NO_BYTES);
      continue;
    }
    EXPECT_EQ(status, CPG_OK);
    EXPECT_EQ(fromFile, tool);
    EXPECT_EQ(cpg_guess(bytes.data(), bytes.size()), tool);
    EXPECT_EQ(streamed(bytes, {bytes.size() / 3, bytes.size() / 2}), tool);
    cpg_explanation explanation{};
    explanation.size = sizeof explanation;
    ASSERT_EQ(cpg_explain(bytes.data(), bytes.size(), &explanation), CPG_OK);
    EXPECT_EQ(explanation.code_page, tool);
    cpg_rule rule = CPG_RULE_UNDECIDED;
    EXPECT_EQ(cpg_guess_rule(bytes.data(), bytes.size(), &rule), tool);
    EXPECT_EQ(static_cast<std::uint32_t>(rule), explanation.rule);
    decided += tool != CPG_UNDECIDED;
  }
  EXPECT_GE(decided, 2);
}

TEST(CApi, ReportsFilesItCannotRead) {
  int codePage = 5;
  EXPECT_EQ(cpg_guess_file("no/such/file.txt", &codePage), CPG_ERROR_NOT_ACCESSIBLE);
  EXPECT_EQ(codePage, CPG_UNDECIDED);
  const auto empty = testing_support::temporaryPath("codepage_guess_c_api_empty_", ".txt");
  std::ofstream(empty).close();
  EXPECT_EQ(cpg_guess_file(empty.string().c_str(), &codePage), CPG_ERROR_NO_BYTES);
  std::filesystem::remove(empty);
}

#ifdef _WIN32
// A name in scripts that no ANSI code page holds together.
TEST(CApi, OpensFilesNamedInAnyScriptByTheirWideName) {
  const auto path = std::filesystem::temp_directory_path() /
                    std::filesystem::u8path("codepage_guess_\xE6\x97\xA5\xED\x95\x9C.txt");
  const Bytes bytes = testing_support::readExample("japanese_sjis.txt");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  int codePage = 0;
  EXPECT_EQ(cpg_guess_file_w(path.c_str(), &codePage), CPG_OK);
  EXPECT_EQ(codePage, CPG_SHIFT_JIS);
  EXPECT_EQ(cpg_guess_file_w(nullptr, &codePage), CPG_ERROR_INVALID_ARGUMENT);
  std::filesystem::remove(path);
}
#endif

TEST(CApiStream, AgreesWithTheOneShotCallOnEverySplitOfShortInputs) {
  std::mt19937 random(30);
  std::vector<Bytes> inputs = {hexBytes("E3 81 82 82 A0 FF 41 C3 A9 E3 81"),
                               hexBytes("82 A0 82 A0 E3 81 82 E3 81 82 0A"),
                               hexBytes("63 61 66 C3 A9 20 E9 E3 81 82 82")};
  for (int k = 0; k < 6; ++k)
    inputs.push_back(testing_support::biasedBytes(random, 11));
  for (const Bytes& bytes : inputs) {
    const int whole = cpg_guess(bytes.data(), bytes.size());
    // Each subset of the places between bytes is one way to split.
    for (std::uint32_t places = 0; places < (1u << (bytes.size() - 1)); ++places) {
      std::vector<std::size_t> cuts;
      for (std::size_t at = 1; at < bytes.size(); ++at) {
        if ((places >> (at - 1)) & 1) cuts.push_back(at);
      }
      ASSERT_EQ(streamed(bytes, cuts), whole) << places;
    }
  }
}

TEST(CApiStream, AgreesWithTheOneShotCallOnLongInputsAndIgnoresBytesPastTheLimit) {
  std::mt19937 random(31);
  const Bytes sjis = testing_support::readExample("japanese_sjis.txt");
  const Bytes ascii = testing_support::readExample("ascii.txt");
  // Past the first mebibyte of ASCII, Shift_JIS that must not count.
  Bytes bytes;
  while (bytes.size() < CPG_INPUT_LIMIT)
    bytes.insert(bytes.end(), ascii.begin(), ascii.end());
  bytes.resize(CPG_INPUT_LIMIT);
  bytes.insert(bytes.end(), sjis.begin(), sjis.end());
  EXPECT_EQ(cpg_guess(bytes.data(), bytes.size()), CPG_UNDECIDED);
  EXPECT_EQ(cpg_guess(bytes.data() + 100, bytes.size() - 100), CPG_SHIFT_JIS);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::size_t> cuts;
    for (std::size_t at = random() % 70000; at < bytes.size(); at += 1 + random() % 200000)
      cuts.push_back(at);
    EXPECT_EQ(streamed(bytes, cuts), CPG_UNDECIDED) << round;
  }
}

TEST(CApiExplain, ReportsTheErrorsScoresAndRuleOfTheKnownCases) {
  struct Case {
    const char* hex;
    int codePage;
    cpg_rule rule;
    std::uint32_t utf8Errors, sjisErrors;
    double utf8Score, sjisScore;
  } cases[] = {
      {"E3 81 82", CPG_UTF8, CPG_RULE_BEST_SCORE, 0, 0, 0.866, 0.165},
      // (ProfileSJIS[0x82] + ProfileSJIS[0xA0]) / sqrt(2), though unused
      {"82 A0", CPG_SHIFT_JIS, CPG_RULE_ONLY_ERROR_FREE, 2, 0, 0.0, 0.6697},
      {"63 61 66 C3 A9", CPG_SHIFT_JIS, CPG_RULE_BEST_SCORE, 0, 0, 0.0100, 0.0292},
      {"E3 81 82 FF", CPG_UTF8, CPG_RULE_BEST_SCORE, 1, 2, 0.866, 0.165},
      {"48 65 6C 6C 6F", CPG_UNDECIDED, CPG_RULE_UNDECIDED, 0, 0, 0.0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    const Bytes bytes = hexBytes(c.hex);
    cpg_explanation e{};
    e.size = sizeof e;
    ASSERT_EQ(cpg_explain(bytes.data(), bytes.size(), &e), CPG_OK);
    EXPECT_EQ(e.code_page, c.codePage);
    EXPECT_EQ(e.code_page, cpg_guess(bytes.data(), bytes.size()));
    EXPECT_EQ(e.rule, c.rule);
    cpg_rule rule = CPG_RULE_UNDECIDED;
    EXPECT_EQ(cpg_guess_rule(bytes.data(), bytes.size(), &rule), c.codePage);
    EXPECT_EQ(rule, c.rule);
    EXPECT_EQ(cpg_guess_rule(bytes.data(), bytes.size(), nullptr), c.codePage);
    EXPECT_EQ(e.candidates[0].code_page, CPG_UTF8);
    EXPECT_EQ(e.candidates[1].code_page, CPG_SHIFT_JIS);
    EXPECT_EQ(e.candidates[0].errors, c.utf8Errors);
    EXPECT_EQ(e.candidates[1].errors, c.sjisErrors);
    EXPECT_NEAR(e.candidates[0].score, c.utf8Score, 0.0005);
    EXPECT_NEAR(e.candidates[1].score, c.sjisScore, 0.0005);
  }
}

// The layout is kept for good: a program built against this header must run
// with every later library of the same major version, and the other way round.
TEST(CApiExplain, FillsWhatTheCallersStructureHoldsAndNoMore) {
  const Bytes bytes = hexBytes("82 A0 82 A0");
  EXPECT_EQ(sizeof(cpg_explanation), 48u);
  EXPECT_EQ(offsetof(cpg_explanation, candidates), 16u);
  EXPECT_EQ(sizeof(cpg_candidate), 16u);

  // A newer caller's larger structure: this library fills its own fields,
  // says how many bytes that is, and leaves the rest alone.
  struct Newer {
    cpg_explanation known;
    std::uint32_t later[4];
  } newer;
  std::memset(&newer, 0xAB, sizeof newer);
  newer.known.size = sizeof newer;
  ASSERT_EQ(cpg_explain(bytes.data(), bytes.size(), &newer.known), CPG_OK);
  EXPECT_EQ(newer.known.size, sizeof(cpg_explanation));
  EXPECT_EQ(newer.known.code_page, CPG_SHIFT_JIS);
  EXPECT_EQ(newer.known.rule, CPG_RULE_ONLY_ERROR_FREE);
  EXPECT_EQ(newer.known.examined, 4u);
  EXPECT_EQ(newer.known.candidates[1].errors, 0u);
  for (const std::uint32_t untouched : newer.later)
    EXPECT_EQ(untouched, 0xABABABABu);

  // A size no version ever had is refused, and nothing is written.
  cpg_explanation small;
  std::memset(&small, 0xAB, sizeof small);
  small.size = sizeof small - 1;
  EXPECT_EQ(cpg_explain(bytes.data(), bytes.size(), &small), CPG_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(small.size, sizeof small - 1);
  EXPECT_EQ(small.code_page, static_cast<std::int32_t>(0xABABABABu));

  // Only the first CPG_INPUT_LIMIT bytes are examined.
  const Bytes large(CPG_INPUT_LIMIT + 10, 0x41);
  cpg_explanation explanation{};
  explanation.size = sizeof explanation;
  ASSERT_EQ(cpg_explain(large.data(), large.size(), &explanation), CPG_OK);
  EXPECT_EQ(explanation.examined, static_cast<std::uint32_t>(CPG_INPUT_LIMIT));
}

TEST(CApi, GivesTheSameAnswersFromSeveralThreadsAtOnce) {
  const Bytes inputs[] = {testing_support::readExample("japanese_utf8.txt"),
                          testing_support::readExample("japanese_sjis.txt"),
                          testing_support::readExample("ascii.txt")};
  const int expected[] = {CPG_UTF8, CPG_SHIFT_JIS, CPG_UNDECIDED};
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < wrong.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 200; ++round) {
        const std::size_t k = (t + static_cast<std::size_t>(round)) % 3;
        wrong[t] += cpg_guess(inputs[k].data(), inputs[k].size()) != expected[k];
        wrong[t] += streamed(inputs[k], {inputs[k].size() / 2}) != expected[k];
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
