// codepage-convert: rewrites in place, as UTF-8, the files under the given
// paths that are Shift_JIS beyond doubt, and touches nothing else.
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "codepage_guess.h"
#include "convert/cp932.hpp"
#include "convert/replacement.hpp"
#include "trees/each_entry.hpp"
#include "trees/input_file.hpp"
#include "trees/options.hpp"
#include "trees/report.hpp"
#include "trees/walk.hpp"

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

namespace {

const char kUsage[] =
    "usage: codepage-convert [options] [PATH...]\n"
    "\n"
    "Rewrites in place, as UTF-8, the files under the PATHs (default: the current\n"
    "directory) that are Shift_JIS (Windows code page 932) beyond doubt, and\n"
    "touches nothing else. Each file is replaced in one step, or not at all.\n"
    "\n"
    "  -n, --dry-run     say what would be converted, change nothing\n"
    "  --min-score S     the Shift_JIS reading's lowest score that counts as\n"
    "                    Japanese text (default 0.1)\n"
    "  --json            one JSON object per line\n"
    "  -0, --null        read more paths from standard input, separated by NUL bytes\n"
    "  -L, --follow      follow symbolic links to directories\n"
    "  -j, --jobs N      convert N files at once (default: the processors available)\n"
    "  --summary         a summary on standard error (default: when it is a terminal)\n"
    "  --no-summary      no summary\n"
    "  --version         the version\n"
    "\n"
    "Exit status: 0 when nothing failed (files left alone are no failure), 1 when a\n"
    "file could not be read or converted, 2 for a wrong command line.\n";

// A file's Shift_JIS reading must score at least this much against the
// profile of Japanese text. Latin-1 text that happens to be valid Shift_JIS
// scored up to 0.064; Japanese of 32 characters or more at least 0.18, and
// 97% of 16-character fragments 0.1 or more (bench/convert_threshold.py).
constexpr double kJapaneseScore = 0.1;

std::atomic<int> gStop{0};  // the signal that asked to stop, or 0

enum class Action { Converted, WouldConvert, Left, Skipped, Failed, Removed };

struct Result {
  Action action = Action::Failed;
  std::string reason;
  std::uint64_t size = 0;     // of the original
  std::uint64_t written = 0;  // UTF-8 bytes of the new file
};

struct Settings {
  bool dryRun = false;
  double minScore = kJapaneseScore;
};

Result left(std::string why) {
  return {Action::Left, std::move(why), 0, 0};
}
Result failed(std::string why) {
  return {Action::Failed, std::move(why), 0, 0};
}

bool writable(const std::filesystem::path& path) {
#if defined(_WIN32)
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
#else
  return ::access(path.c_str(), W_OK) == 0;
#endif
}

// Byte order marks: a file that starts with one is UTF-16, UTF-32 or UTF-8.
bool startsWithByteOrderMark(const std::uint8_t* bytes, std::size_t size) {
  const auto startsWith = [&](std::initializer_list<std::uint8_t> mark) {
    return size >= mark.size() && std::equal(mark.begin(), mark.end(), bytes);
  };
  return startsWith({0xFF, 0xFE}) || startsWith({0xFE, 0xFF}) ||
         startsWith({0x00, 0x00, 0xFE, 0xFF}) || startsWith({0xEF, 0xBB, 0xBF});
}

// The first mebibyte must be Shift_JIS beyond doubt: the UTF-8 reading breaks
// somewhere, the Shift_JIS reading does not, and it reads as Japanese.
std::string whyNotShiftJIS(const std::uint8_t* bytes, std::size_t size, double minScore) {
  cpg_explanation e;
  e.size = sizeof e;
  if (cpg_explain(bytes, size, &e) != CPG_OK) return "out of memory";
  char text[128];
  if (e.candidates[0].errors == 0) return "valid UTF-8";
  if (e.candidates[1].errors != 0) {
    const unsigned broken = e.candidates[1].errors;
    std::snprintf(text, sizeof text, "not Shift_JIS (%u broken byte%s)", broken,
                  broken == 1 ? "" : "s");
    return text;
  }
  if (e.candidates[1].score < minScore) {
    std::snprintf(text, sizeof text, "does not read as Japanese text (score %.3f, below %.3f)",
                  e.candidates[1].score, minScore);
    return text;
  }
  if (startsWithByteOrderMark(bytes, size)) return "starts with a byte order mark";
  return "";
}

Result convertFile(const trees::Entry& entry, const Settings& settings, std::uint8_t* buffer) {
  if (entry.kind == trees::Kind::Skipped) return {Action::Skipped, entry.note, 0, 0};
  if (entry.kind == trees::Kind::Failed) return failed(entry.note);
  if (gStop != 0) return failed("interrupted");

  std::string error;
  trees::InputFile file;
  trees::FileState before;
  if (!file.open(entry.path, false, before, error)) {
    return error == "symbolic link, not followed" || error == "not a regular file"
               ? Result{Action::Skipped, error, 0, 0}
               : failed(error);
  }
  Result result;
  if (before.links > 1) {
    result = left("it has " + std::to_string(before.links) + " hard links");
  } else if (!writable(entry.path)) {
    result = left("not writable");
  } else {
    result = [&]() -> Result {
      std::int64_t read = file.readFully(buffer, CPG_INPUT_LIMIT, error, before.size);
      if (read < 0) return failed(error);
      if (read == 0) return left("empty");
      const std::string why =
          whyNotShiftJIS(buffer, static_cast<std::size_t>(read), settings.minScore);
      if (!why.empty()) return why == "out of memory" ? failed(why) : left(why);

      // The whole file must convert, and come back byte for byte.
      cp932::Decoder decoder;
      convert::Replacement replacement;
      if (!settings.dryRun && !replacement.begin(entry.path, error)) return failed(error);
      std::string utf8;
      std::uint64_t written = 0;
      do {
        utf8.clear();
        if (!decoder.decode(buffer, static_cast<std::size_t>(read), utf8))
          return left(decoder.problem());
        if (!settings.dryRun && !replacement.write(utf8.data(), utf8.size(), error))
          return failed(error);
        written += utf8.size();
        if (gStop != 0) return failed("interrupted");
      } while ((read = file.read(buffer, CPG_INPUT_LIMIT, error)) > 0);
      if (read < 0) return failed(error);
      if (!decoder.finish()) return left(decoder.problem());

      trees::FileState after;
      if (!file.state(after, error)) return failed(error);
      if (!after.unchangedSince(before)) return left("it changed while it was being converted");
      if (settings.dryRun) return {Action::WouldConvert, "", 0, written};
      if (!replacement.commit(before, error))
        return error == "it changed while it was being converted" ? left(error) : failed(error);
      return {Action::Converted, "", 0, written};
    }();
  }
  result.size = before.size;
  return result;
}

const char* actionName(Action action) {
  switch (action) {
    case Action::Converted:
      return "converted";
    case Action::WouldConvert:
      return "would_convert";
    case Action::Left:
      return "left";
    case Action::Skipped:
      return "skipped";
    case Action::Removed:
      return "removed";
    case Action::Failed:
      break;
  }
  return "error";
}

std::string line(const std::filesystem::path& path, const Result& r, bool json) {
  if (json) {
    std::string out = "{";
    trees::appendJsonPath(out, "path", path);
    out += ",\"action\":\"";
    out += actionName(r.action);
    out += "\"";
    if (r.action != Action::Skipped && r.action != Action::Failed && r.action != Action::Removed) {
      out += ",\"size\":" + std::to_string(r.size);
    }
    if (r.action == Action::Converted || r.action == Action::WouldConvert)
      out += ",\"utf8_size\":" + std::to_string(r.written);
    if (!r.reason.empty()) {
      out += ",\"reason\":";
      trees::appendJsonString(out, r.reason);
    }
    return out + "}\n";
  }
  std::string out = trees::displayPath(path) + ": ";
  switch (r.action) {
    case Action::Converted:
      out += "converted to UTF-8";
      break;
    case Action::WouldConvert:
      out += "would be converted to UTF-8";
      break;
    case Action::Left:
      out += "left alone: " + r.reason;
      break;
    case Action::Skipped:
      out += "skipped: " + r.reason;
      break;
    case Action::Removed:
      out += r.reason;
      break;
    case Action::Failed:
      out += "failed: " + r.reason;
      break;
  }
  return out + "\n";
}

// Signals that end a run are taken by one thread, which asks the others to
// stop: each then removes the temporary file it was writing, and the run ends
// as the signal would have ended it.
void watchForSignals() {
#if defined(_WIN32)
  SetConsoleCtrlHandler(
      [](DWORD) -> BOOL {
        gStop = SIGINT;
        return TRUE;
      },
      TRUE);
#else
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
    sigaddset(&set, signal);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    int signal = 0;
    if (sigwait(&set, &signal) == 0) gStop = signal;
  }).detach();
#endif
}

[[noreturn]] void endAsSignalled(int signal) {
#if defined(_WIN32)
  std::exit(128 + signal);
#else
  std::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  std::raise(signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  std::_Exit(128 + signal);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  trees::Options options;
  Settings settings;
  std::string badScore;
  bool scoreNext = false;
  const std::string wrong =
      trees::parseOptions(argc, argv, options, [&](const std::string& option) {
        if (option == "-n" || option == "--dry-run") {
          settings.dryRun = true;
          return true;
        }
        if (option.rfind("--min-score=", 0) == 0) {
          char* end = nullptr;
          settings.minScore = std::strtod(option.c_str() + 12, &end);
          if (*end != '\0' || !(settings.minScore >= 0.0 && settings.minScore <= 1.0))
            badScore = option;
          return true;
        }
        return scoreNext = option == "--min-score";
      });
  if (scoreNext || !badScore.empty() || !wrong.empty()) {
    const std::string what = !wrong.empty() ? wrong
                             : scoreNext    ? "write --min-score=S, S from 0 to 1"
                                            : "--min-score takes a number from 0 to 1";
    std::fprintf(stderr, "codepage-convert: %s\n%s", what.c_str(), kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("codepage-convert %s\n", cpg_version());
    return 0;
  }
  watchForSignals();

  // Temporary files of an earlier run that was killed are removed; those of
  // a run still going on are left to it; none is ever converted.
  std::vector<std::filesystem::path> leftOvers;
  trees::WalkOptions walkOptions;
  walkOptions.followLinks = options.followLinks;
  walkOptions.leaveOut = [&](const std::filesystem::path& path) {
    if (!convert::isTemporary(path)) return false;
    if (convert::isLeftOver(path)) leftOvers.push_back(path);
    return true;
  };
  const std::vector<trees::Entry> entries = trees::walk(trees::pathsToWalk(options), walkOptions);

  std::size_t converted = 0, leftAlone = 0, skipped = 0, failures = 0;
  std::uint64_t written = 0;
  const auto report = [&](const std::filesystem::path& path, const Result& result) {
    const std::string text = line(path, result, options.json);
    std::fwrite(text.data(), 1, text.size(), stdout);
    switch (result.action) {
      case Action::Converted:
      case Action::WouldConvert:
        ++converted;
        written += result.written;
        break;
      case Action::Left:
        ++leftAlone;
        break;
      case Action::Skipped:
      case Action::Removed:
        ++skipped;
        break;
      case Action::Failed:
        ++failures;
        break;
    }
  };
  for (const std::filesystem::path& path : leftOvers) {
    std::error_code error;
    if (settings.dryRun)
      report(path, {Action::Removed, "would be removed: left by an interrupted run", 0, 0});
    else if (std::filesystem::remove(path, error))
      report(path, {Action::Removed, "removed: left by an interrupted run", 0, 0});
    else
      report(path, failed(error.message()));
  }

  const bool terminal = trees::standardErrorIsATerminal();
  trees::Progress progress(terminal);
  trees::forEachEntry<Result>(
      entries, trees::threadsToUse(options), CPG_INPUT_LIMIT, progress, written,
      [&](const trees::Entry& entry, std::uint8_t* buffer) {
        return convertFile(entry, settings, buffer);
      },
      [&](const trees::Entry& entry, const Result& result) { report(entry.path, result); });
  const bool outputWritten = std::fflush(stdout) == 0 && !std::ferror(stdout);

  if (trees::wantsSummary(options, terminal)) {
    std::fprintf(
        stderr,
        "%zu files: %zu %s, %zu left alone, %zu skipped, %zu failed; %s of UTF-8 in %.2f s\n",
        converted + leftAlone + skipped + failures, converted,
        settings.dryRun ? "would be converted" : "converted", leftAlone, skipped, failures,
        trees::byteCount(written).c_str(), progress.seconds());
  }
  if (gStop != 0) {
    std::fprintf(stderr,
                 "codepage-convert: interrupted; every file is as it was or converted whole\n");
    endAsSignalled(gStop);
  }
  if (!outputWritten) {
    std::fprintf(stderr, "codepage-convert: standard output is not writable\n");
    return 1;
  }
  return failures != 0 ? 1 : 0;
}
