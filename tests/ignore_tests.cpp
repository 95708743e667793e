#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trees/ignore.hpp"

namespace {

// Cases from git's own rules for wildmatch with WM_PATHNAME (gitignore(5));
// the walk's agreement with git on whole trees is checked end to end.
TEST(Glob, MatchesAsGitsWildmatchDoes) {
  struct Case {
    const char* pattern;
    const char* text;
    bool matches;
  } cases[] = {
      {"foo", "foo", true},
      {"foo", "foobar", false},
      {"*", "foo", true},
      {"*", "foo/bar", false},
      {"*.c", ".c", true},
      {"**", "foo/bar/baz", true},
      {"**/foo", "foo", true},
      {"**/foo", "a/b/foo", true},
      {"**/foo", "afoo", false},
      {"a/**/b", "a/b", true},
      {"a/**/b", "a/x/y/b", true},
      {"a/**/b", "ax/b", false},
      {"a/**", "a/b/c", true},
      {"a/**", "a", false},
      {"x**y", "xay", true},
      {"x**y", "xa/y", false},
      {"?", "a", true},
      {"?", "/", false},
      {"[a-c]x", "bx", true},
      {"[!a-c]x", "bx", false},
      {"[^a-c]x", "dx", true},
      {"[]]", "]", true},
      {"[]-]", "-", true},
      {"[[:digit:]]*", "5a", true},
      {"[[:digit:]]*", "a5", false},
      {"[[:upper:]]", "A", true},
      {"\\*", "*", true},
      {"\\*", "x", false},
      {"[a", "a", false},
      {"a\\", "a", false},
      {"*/*", "a/b", true},
      {"*/*", "a/b/c", false},
      {"[/]", "/", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(trees::globMatches(c.pattern, c.text), c.matches) << c.pattern << " on " << c.text;
}

TEST(IgnoreFile, ReadsLinesAsGitDoes) {
  const std::vector<trees::IgnorePattern> patterns = trees::parseIgnoreFile(
      "# comment\n\n*.log\n!keep.log\nbuild/\n/top.txt\ndocs/*.md\n\\#hash\n\\!bang\n"
      "trailing   \nquoted\\ \n",
      "sub");
  ASSERT_EQ(patterns.size(), 9u);
  EXPECT_EQ(patterns[0].glob, "*.log");
  EXPECT_FALSE(patterns[0].anchored);
  EXPECT_TRUE(patterns[1].negated);
  EXPECT_TRUE(patterns[2].directoryOnly);
  EXPECT_EQ(patterns[2].glob, "build");
  EXPECT_TRUE(patterns[3].anchored);
  EXPECT_EQ(patterns[3].glob, "top.txt");
  EXPECT_TRUE(patterns[4].anchored);
  EXPECT_EQ(patterns[5].glob, "#hash");
  EXPECT_EQ(patterns[6].glob, "!bang");
  EXPECT_FALSE(patterns[6].negated);
  EXPECT_EQ(patterns[7].glob, "trailing");
  EXPECT_EQ(patterns[8].glob, "quoted\\ ");
  EXPECT_EQ(patterns[0].base, "sub");

  using trees::Match;
  EXPECT_EQ(trees::matchPatterns(patterns, "sub/x/a.log", false), Match::Ignored);
  EXPECT_EQ(trees::matchPatterns(patterns, "sub/keep.log", false), Match::Included);
  EXPECT_EQ(trees::matchPatterns(patterns, "sub/build", true), Match::Ignored);
  EXPECT_EQ(trees::matchPatterns(patterns, "sub/build", false), Match::None);
  EXPECT_EQ(trees::matchPatterns(patterns, "sub/top.txt", false), Match::Ignored);
  EXPECT_EQ(trees::matchPatterns(patterns, "sub/x/top.txt", false), Match::None);
  EXPECT_EQ(trees::matchPatterns(patterns, "other/a.log", false), Match::None);
  EXPECT_EQ(trees::matchPatterns(patterns, "sub/quoted ", false), Match::Ignored);
}

}  // namespace
