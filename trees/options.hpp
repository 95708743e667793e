#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace trees {

// The options codepage-scan and codepage-convert share.
struct Options {
  std::vector<std::filesystem::path> paths;
  bool nulSeparatedInput = false;  // -0, --null: more paths on standard input
  bool json = false;               // --json: JSON Lines
  bool followLinks = false;        // -L, --follow
  unsigned jobs = 0;               // -j N, --jobs N; 0: the processors available
  int summary = -1;                // --summary 1, --no-summary 0, -1: if stderr is a terminal
  bool help = false, version = false;
};

// Parses the command line. `own(option)` is asked first about each option
// and returns true if it is one of the program's own. Returns "" or what is
// wrong with the command line. Options and paths may come in any order; "--"
// ends the options.
std::string parseOptions(int argc, char** argv, Options& options,
                         const std::function<bool(const std::string&)>& own);

// The paths to walk: those given, those on standard input with -0, or "."
// when there are none of either.
std::vector<std::filesystem::path> pathsToWalk(const Options& options);

// -j, or the processors available.
unsigned threadsToUse(const Options& options);

// --summary, --no-summary, or whether standard error is a terminal.
bool wantsSummary(const Options& options, bool terminal);

}  // namespace trees
