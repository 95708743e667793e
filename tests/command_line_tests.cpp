#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/command_line.hpp"
#include "app/run.hpp"

namespace {

struct ArgumentCase {
  std::vector<const char*> arguments;  // after argument 0
  const char* path;                    // null: usage error
  bool verbose;
};

TEST(ParseArguments, AcceptsTheThreeFormsOnly) {
  const ArgumentCase cases[] = {
      {{"a.txt"}, "a.txt", false},
      {{"-v", "a.txt"}, "a.txt", true},
      {{"a.txt", "-v"}, "a.txt", true},
      {{"-v"}, "-v", false},              // a lone "-v" is a file name
      {{"-v", "-v"}, "-v", true},         // the first "-v" is the switch
      {{"-V", "a.txt"}, nullptr, false},  // matched case-sensitively
      {{"a.txt", "b.txt"}, nullptr, false},
      {{}, nullptr, false},
      {{"-v", "a.txt", "-v"}, nullptr, false},
  };
  for (const ArgumentCase& c : cases) {
    std::vector<const char*> argv{"codepage-guess"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    const auto invocation = app::parseArguments(static_cast<int>(argv.size()), argv.data());
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    if (c.path == nullptr) {
      EXPECT_FALSE(invocation.has_value());
      continue;
    }
    ASSERT_TRUE(invocation.has_value());
    EXPECT_STREQ(invocation->path, c.path);
    EXPECT_EQ(invocation->verbose, c.verbose);
  }
}

std::string usageFor(const std::string& programName) {
  return programName +
         " (-v) [file]\n\nThis program conjectures the text encoding of [file] for Penwick.\n"
         "Without -v option, no error message is shown.\n";
}

TEST(RunTool, NamesItselfWhenStartedWithoutArgumentZero) {
  const char* const argv[] = {nullptr};
  testing::internal::CaptureStderr();
  const int status = app::runTool(0, argv);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), usageFor("codepage-guess"));
  EXPECT_EQ(status, 1);
}

TEST(RunTool, PrintsAnEmptyArgumentZeroAsItIs) {
  const char* const argv[] = {"", nullptr};
  testing::internal::CaptureStderr();
  const int status = app::runTool(1, argv);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), usageFor(""));
  EXPECT_EQ(status, 1);
}

}  // namespace
