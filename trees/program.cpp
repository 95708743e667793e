#include "trees/program.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "codepage_guess.h"
#include "trees/report.hpp"
#include "trees/stop.hpp"
#include "trees/walk.hpp"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace trees {
namespace {

bool gStandardInputWasClosed = false;
bool gStandardOutputWasClosed = false;

enum SharedOption {
  kNull = 1,
  kJson,
  kFollow,
  kJobs,
  kSummary,
  kNoSummary,
  kHelp,
  kVersion,
  kNoIgnore,
  kGlob
};

const std::vector<Option>& sharedOptions() {
  static const std::vector<Option> options = {
      {"null", '0', false, kNull},        {"json", 0, false, kJson},
      {"follow", 'L', false, kFollow},    {"jobs", 'j', true, kJobs},
      {"summary", 0, false, kSummary},    {"no-summary", 0, false, kNoSummary},
      {"help", 'h', false, kHelp},        {"version", 0, false, kVersion},
      {"no-ignore", 0, false, kNoIgnore}, {"glob", 'g', true, kGlob},
  };
  return options;
}

// Writes the text to standard output as coreutils do for --help: a failed
// write is an error.
int answer(const Program& program, const std::string& text) {
  Output output;
  output.write(text);
  if (output.finish()) return kSucceeded;
  std::fprintf(stderr, "%s: write error: %s\n", program.name, output.problem().c_str());
  return kSomethingFailed;
}

}  // namespace

void keepStandardStreamsOpen() noexcept {
#if !defined(_WIN32)
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one.
    const int opened = ::open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != descriptor) ::close(opened);
    if (descriptor == 0) gStandardInputWasClosed = true;
    if (descriptor == 1) gStandardOutputWasClosed = true;
  }
#endif
}

bool standardInputWasClosed() noexcept {
  return gStandardInputWasClosed;
}

bool standardOutputWasClosed() noexcept {
  return gStandardOutputWasClosed;
}

int readCommandLine(const Program& program, int argc, const char* const* argv, TreeOptions& tree) {
  std::vector<Option> options = sharedOptions();
  options.insert(options.end(), program.options.begin(), program.options.end());
  bool help = false, version = false;
  std::string wrong;
  const std::string parsed = parseCommandLine(
      argc, argv, options,
      [&](int id, const std::string& value) {
        if (!wrong.empty()) return;
        switch (id) {
          case kNull:
            tree.nulSeparatedInput = true;
            break;
          case kJson:
            tree.json = true;
            break;
          case kFollow:
            tree.followLinks = true;
            break;
          case kJobs: {
            char* end = nullptr;
            const unsigned long jobs = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || value[0] == '-' || jobs == 0 || jobs > 1024)
              wrong = "invalid number of jobs: '" + value + "' (1 to 1024)";
            else
              tree.jobs = static_cast<unsigned>(jobs);
            break;
          }
          case kSummary:
            tree.summary = 1;
            break;
          case kNoSummary:
            tree.summary = 0;
            break;
          case kHelp:
            help = true;
            break;
          case kVersion:
            version = true;
            break;
          case kNoIgnore:
            tree.noIgnore = true;
            break;
          case kGlob:
            tree.globs.push_back(value);
            break;
          default:
            wrong = program.onOption(id, value);
        }
      },
      [&](const std::string& operand) { tree.paths.push_back(pathFromBytes(operand)); });
  if (wrong.empty()) wrong = parsed;
  if (!wrong.empty()) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program.name,
                 wrong.c_str(), program.name);
    return kWrongCommandLine;
  }
  if (help) return answer(program, program.usage);
  if (version) return answer(program, std::string(program.name) + " " + cpg_version() + "\n");
  return -1;
}

std::vector<std::filesystem::path> pathsToWalk(const TreeOptions& options) {
  std::vector<std::filesystem::path> paths = options.paths;
  if (options.nulSeparatedInput) {
    // A list cut short by a read error is no list to work on.
    if (gStandardInputWasClosed)
      throw std::system_error(EBADF, std::generic_category(), "standard input");
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    errno = 0;
    std::vector<std::filesystem::path> listed = readNulSeparated(stdin);
    if (std::ferror(stdin))
      throw std::system_error(errno, std::generic_category(), "standard input");
    for (std::filesystem::path& path : listed)
      paths.push_back(std::move(path));
  } else if (paths.empty()) {
    paths.emplace_back(".");
  }
  return paths;
}

unsigned threadsToUse(const TreeOptions& options) {
  return options.jobs != 0 ? options.jobs : processorsAvailable();
}

bool wantsSummary(const TreeOptions& options, bool terminal) {
  return options.summary == 1 || (options.summary == -1 && terminal);
}

bool Output::write(const std::string& text) noexcept {
  if (failed_) return false;
  if (gStandardOutputWasClosed) {
    failed(EBADF);
    return false;
  }
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::ferror(stdout)) {
    failed(errno);
    return false;
  }
  return true;
}

bool Output::finish() noexcept {
  if (!failed_ && (std::fflush(stdout) != 0 || std::ferror(stdout))) failed(errno);
  return !failed_;
}

void Output::failed(int error) noexcept {
  failed_ = true;
  problem_ = std::generic_category().message(error);
#if defined(SIGPIPE)
  requestStop(error == EPIPE ? SIGPIPE : 0);
#else
  requestStop(0);
#endif
}

int endOfRun(const Program& program, Output& output, int status, const char* interrupted) {
  const bool written = output.finish();
  const int signal = stopSignal();
  if (stopRequested() && signal != 0) {
#if defined(SIGPIPE)
    // As cat and the others: no word of a reader that went away.
    if (signal != SIGPIPE) std::fprintf(stderr, "%s: %s\n", program.name, interrupted);
#else
    std::fprintf(stderr, "%s: %s\n", program.name, interrupted);
#endif
    std::fflush(stderr);
    endBySignal(signal);
  }
  if (!written) {
    std::fprintf(stderr, "%s: write error: %s\n", program.name, output.problem().c_str());
    return kSomethingFailed;
  }
  return status;
}

}  // namespace trees
