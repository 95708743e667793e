#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "trees/options.hpp"

// What codepage-scan and codepage-convert share around their work: the
// standard streams, the command line, the help and version, standard output
// that fails cleanly, and the exit status.
namespace trees {

// Exit statuses, as coreutils have them.
constexpr int kSucceeded = 0;
constexpr int kSomethingFailed = 1;
constexpr int kWrongCommandLine = 2;

// Points descriptors 0, 1 and 2 at /dev/null where they are closed, as
// coreutils does: a file opened later would get one of them, and output
// meant for the terminal would be written into it.
void keepStandardStreamsOpen() noexcept;

// Whether standard input or output was closed when the program started: what
// is read there is nothing, what is written goes nowhere, and either is to
// fail as it would have.
bool standardInputWasClosed() noexcept;
bool standardOutputWasClosed() noexcept;

// The options both programs have.
struct TreeOptions {
  std::vector<std::filesystem::path> paths;
  bool nulSeparatedInput = false;  // -0, --null: more paths on standard input
  bool json = false;               // --json: JSON Lines
  bool followLinks = false;        // -L, --follow
  unsigned jobs = 0;               // -j N, --jobs N; 0: the processors available
  int summary = -1;                // --summary 1, --no-summary 0, -1: if stderr is a terminal
  bool noIgnore = false;           // --no-ignore: walk ignored files and version control's too
  std::vector<std::string> globs;  // -g, --glob, in order
};

struct Program {
  const char* name;   // "codepage-scan"
  const char* usage;  // the --help text
  // The program's own options, with ids from kOwnOptions up, and what to do
  // with each: return "" or what is wrong with its value.
  std::vector<Option> options;
  std::function<std::string(int id, const std::string& value)> onOption;
};

constexpr int kOwnOptions = 100;

// Reads the command line into `tree` and the program's own options. Answers
// --help and --version on standard output and a wrong command line on
// standard error ("PROGRAM: what\nTry 'PROGRAM --help' ..."), and returns the
// exit status then; -1 when the run is to go on.
int readCommandLine(const Program& program, int argc, const char* const* argv, TreeOptions& tree);

// The paths to walk: those given, those on standard input with -0, or "."
// when there are none of either. Throws std::system_error when standard input
// could not be read to its end.
std::vector<std::filesystem::path> pathsToWalk(const TreeOptions& options);

// -j, or the processors available.
unsigned threadsToUse(const TreeOptions& options);

// --summary, --no-summary, or whether standard error is a terminal.
bool wantsSummary(const TreeOptions& options, bool terminal);

// Standard output, a line at a time. The first write that fails (a reader
// gone away, a full disk) asks the run to stop; finish() says whether all
// went out, and why not.
class Output {
 public:
  bool write(const std::string& text) noexcept;
  bool finish() noexcept;
  const std::string& problem() const noexcept { return problem_; }

 private:
  void failed(int error) noexcept;
  bool failed_ = false;
  std::string problem_;
};

// The end of a run: a stop asked for ends it as its cause would, after
// `interrupted` is said on standard error for a signal; otherwise what could
// not be written is said and the status is 1, or it is `status`.
int endOfRun(const Program& program, Output& output, int status, const char* interrupted);

}  // namespace trees
