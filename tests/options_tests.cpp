#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "trees/options.hpp"

#if defined(__GLIBC__)
#include <getopt.h>
#endif

namespace {

const std::vector<trees::Option> kOptions = {
    {"dry-run", 'n', false, 1}, {"jobs", 'j', true, 2},      {"json", 0, false, 3},
    {"min-score", 0, true, 4},  {"null", '0', false, 5},     {"follow", 'L', false, 6},
    {"glob", 'g', true, 7},     {"no-summary", 0, false, 8}, {"no-ignore", 0, false, 9},
};

struct Parsed {
  std::vector<std::pair<int, std::string>> options;
  std::vector<std::string> operands;
  bool wrong = false;
  std::string message;
};

Parsed ours(const std::vector<std::string>& arguments) {
  std::vector<const char*> argv{"program"};
  for (const std::string& a : arguments)
    argv.push_back(a.c_str());
  Parsed parsed;
  parsed.message = trees::parseCommandLine(
      static_cast<int>(argv.size()), argv.data(), kOptions,
      [&](int id, const std::string& value) { parsed.options.emplace_back(id, value); },
      [&](const std::string& operand) { parsed.operands.push_back(operand); });
  parsed.wrong = !parsed.message.empty();
  return parsed;
}

#if defined(__GLIBC__)
// The same command line through glibc's getopt_long, which the programs'
// users know from coreutils.
Parsed glibc(const std::vector<std::string>& arguments) {
  std::vector<std::string> copies = arguments;
  std::vector<char*> argv{const_cast<char*>("program")};
  for (std::string& a : copies)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<struct option> longs;
  std::string shorts = "+";  // no permutation here: operands are taken as they come
  for (const trees::Option& o : kOptions) {
    longs.push_back({o.name, o.takesValue ? required_argument : no_argument, nullptr, o.id});
    if (o.letter != 0) {
      shorts.push_back(o.letter);
      if (o.takesValue) shorts.push_back(':');
    }
  }
  longs.push_back({nullptr, 0, nullptr, 0});
  Parsed parsed;
  optind = 0;  // glibc: start afresh
  opterr = 0;
  const int argc = static_cast<int>(argv.size()) - 1;
  const auto at = [&](int index) { return std::string(argv[static_cast<std::size_t>(index)]); };
  for (;;) {
    const int found = getopt_long(argc, argv.data(), shorts.c_str(), longs.data(), nullptr);
    if (found == -1) {
      if (optind < argc && optind > 0 && at(optind - 1) == "--") {
        while (optind < argc)
          parsed.operands.push_back(at(optind++));
        break;
      }
      if (optind >= argc) break;
      parsed.operands.push_back(at(optind++));  // an operand, then go on
      continue;
    }
    if (found == '?' || found == ':') {
      parsed.wrong = true;
      break;
    }
    int id = found;
    for (const trees::Option& o : kOptions)
      if (o.letter != 0 && o.letter == found) id = o.id;
    parsed.options.emplace_back(id, optarg != nullptr ? optarg : "");
  }
  return parsed;
}
#endif

const std::vector<std::vector<std::string>> kCommandLines = {
    {"a", "-n", "b"},
    {"-nj2", "x"},
    {"-j", "2"},
    {"-j2"},
    {"--jobs=3"},
    {"--jobs", "3"},
    {"--jo", "3"},  // a unique prefix
    {"--min-score", "0.2"},
    {"--min-score="},
    {"--min-score", "--no-summary"},  // the value is the next argument, whatever it is
    {"-g", "!*.txt", "-g*.c"},
    {"--", "-n", "--jobs"},
    {"-", "--dry-run"},
    {"--frob"},
    {"-x"},
    {"-j"},
    {"--jobs"},
    {"--json=yes"},
    {"--no"},  // --no-summary or --no-ignore
    {"-0L", "dir"},
};

TEST(CommandLine, IsReadAsGetoptLongReadsIt) {
  for (const std::vector<std::string>& line : kCommandLines) {
    std::string shown;
    for (const std::string& a : line)
      shown += " " + a;
    const Parsed mine = ours(line);
#if defined(__GLIBC__)
    const Parsed theirs = glibc(line);
    EXPECT_EQ(mine.wrong, theirs.wrong) << shown << ": " << mine.message;
    if (!mine.wrong && !theirs.wrong) {
      EXPECT_EQ(mine.options, theirs.options) << shown;
      EXPECT_EQ(mine.operands, theirs.operands) << shown;
    }
#else
    EXPECT_TRUE(mine.wrong || !mine.options.empty() || !mine.operands.empty()) << shown;
#endif
  }
}

TEST(CommandLine, SaysWhatIsWrongInGetoptsWords) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--frob"}, "unrecognized option '--frob'"},
      {{"-x"}, "invalid option -- 'x'"},
      {{"-j"}, "option requires an argument -- 'j'"},
      {{"--jobs"}, "option '--jobs' requires an argument"},
      {{"--json=yes"}, "option '--json' doesn't allow an argument"},
      {{"--no"}, "option '--no' is ambiguous; possibilities: '--no-summary' '--no-ignore'"},
  };
  for (const auto& [line, message] : cases)
    EXPECT_EQ(ours(line).message, message) << line[0];
}

}  // namespace
