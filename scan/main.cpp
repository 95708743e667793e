// codepage-scan: what every file under the given paths is written in, by the
// decision of codepage-guess, one line per file.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codepage_guess.h"
#include "trees/input_file.hpp"
#include "trees/pipeline.hpp"
#include "trees/program.hpp"
#include "trees/report.hpp"
#include "trees/stop.hpp"
#include "trees/walk.hpp"

namespace {

const char kUsage[] =
    "usage: codepage-scan [options] [PATH...]\n"
    "\n"
    "Tells whether each file under the PATHs (default: the current directory) is\n"
    "UTF-8 or Shift_JIS, as codepage-guess decides on its first mebibyte.\n"
    "\n"
    "  --json          one JSON object per line\n"
    "  --explain       both readings' error counts and scores (reads every byte of\n"
    "                  the first mebibyte the long way)\n"
    "  -0, --null      read more paths from standard input, separated by NUL bytes\n"
    "                  (git ls-files -z | codepage-scan -0)\n"
    "  -L, --follow    follow symbolic links\n"
    "  -j, --jobs N    examine N files at once (default: the processors available)\n"
    "  --summary       a summary on standard error (default: when it is a terminal)\n"
    "  --no-summary    no summary\n"
    "  -h, --help      this help\n"
    "  --version       the version\n"
    "\n"
    "Exit status: 0 when every file could be read, 1 when some could not, 2 for a\n"
    "wrong command line.\n";

enum OwnOption { kExplain = trees::kOwnOptions };

enum class Outcome { Decided, Undecided, Empty, Skipped, Failed };

struct Finding {
  Outcome outcome = Outcome::Failed;
  int codePage = 0;
  cpg_rule rule = CPG_RULE_UNDECIDED;
  std::uint64_t size = 0;      // the whole file's
  std::uint64_t examined = 0;  // bytes read
  std::string note;            // why skipped, what failed
  bool explained = false;
  cpg_explanation explanation{};
};

const char* encodingName(int codePage) {
  return codePage == CPG_UTF8 ? "UTF-8" : "Shift_JIS";
}

const char* ruleName(std::uint32_t rule) {
  switch (rule) {
    case CPG_RULE_ONLY_ERROR_FREE:
      return "only_error_free";
    case CPG_RULE_BEST_SCORE:
      return "best_score";
    default:
      return "undecided";
  }
}

const char* ruleInWords(std::uint32_t rule) {
  return rule == CPG_RULE_ONLY_ERROR_FREE ? "the only error-free reading" : "the better score";
}

Finding examine(const trees::Entry& entry, bool followLinks, bool explain, std::uint8_t* buffer) {
  Finding finding;
  if (entry.kind == trees::EntryKind::Skipped || entry.kind == trees::EntryKind::Failed) {
    finding.outcome = entry.kind == trees::EntryKind::Skipped ? Outcome::Skipped : Outcome::Failed;
    finding.note = entry.note;
    return finding;
  }
  trees::InputFile file;
  trees::FileState state;
  switch (file.open(entry, followLinks, state, finding.note)) {
    case trees::InputFile::Opened::Yes:
      break;
    case trees::InputFile::Opened::Link:
    case trees::InputFile::Opened::NotRegular:
      finding.outcome = Outcome::Skipped;
      return finding;
    case trees::InputFile::Opened::Failed:
      return finding;
  }
  const std::int64_t read = file.readFully(buffer, CPG_INPUT_LIMIT, finding.note, state.size);
  if (read < 0) return finding;
  finding.size = state.size;
  finding.examined = static_cast<std::uint64_t>(read);
  if (read == 0) {
    finding.outcome = Outcome::Empty;
    return finding;
  }
  const auto size = static_cast<std::size_t>(read);
  if (explain) {
    finding.explanation.size = sizeof finding.explanation;
    if (cpg_explain(buffer, size, &finding.explanation) != CPG_OK) {
      finding.note = "out of memory";
      return finding;
    }
    finding.explained = true;
    finding.codePage = finding.explanation.code_page;
    finding.rule = static_cast<cpg_rule>(finding.explanation.rule);
  } else {
    finding.codePage = cpg_guess_rule(buffer, size, &finding.rule);
  }
  finding.outcome = finding.codePage != CPG_UNDECIDED ? Outcome::Decided : Outcome::Undecided;
  return finding;
}

std::string readings(const cpg_explanation& explanation, bool json) {
  char text[256];
  const cpg_candidate& utf8 = explanation.candidates[0];
  const cpg_candidate& sjis = explanation.candidates[1];
  if (json) {
    std::snprintf(text, sizeof text,
                  ",\"readings\":[{\"code_page\":%d,\"errors\":%u,\"score\":%.6f},"
                  "{\"code_page\":%d,\"errors\":%u,\"score\":%.6f}]",
                  static_cast<int>(utf8.code_page), static_cast<unsigned>(utf8.errors), utf8.score,
                  static_cast<int>(sjis.code_page), static_cast<unsigned>(sjis.errors), sjis.score);
  } else {
    std::snprintf(text, sizeof text,
                  " [UTF-8: %u broken bytes, score %.4f; Shift_JIS: %u broken bytes, score %.4f]",
                  static_cast<unsigned>(utf8.errors), utf8.score,
                  static_cast<unsigned>(sjis.errors), sjis.score);
  }
  return text;
}

std::string jsonLine(const trees::Entry& entry, const Finding& f) {
  std::string line = "{";
  trees::appendJsonPath(line, "path", entry.path);
  line += ",\"code_page\":";
  line += f.outcome == Outcome::Decided ? std::to_string(f.codePage) : "null";
  switch (f.outcome) {
    case Outcome::Decided:
    case Outcome::Undecided:
    case Outcome::Empty:
      line += ",\"size\":" + std::to_string(f.size) + ",\"rule\":\"";
      line += f.outcome == Outcome::Empty ? "empty" : ruleName(f.rule);
      line += "\"";
      if (f.explained) line += readings(f.explanation, true);
      break;
    case Outcome::Skipped:
      line += ",\"skipped\":";
      trees::appendJsonString(line, f.note);
      break;
    case Outcome::Failed:
      line += ",\"error\":";
      trees::appendJsonString(line, f.note);
      break;
  }
  return line + "}\n";
}

std::string humanLine(const trees::Entry& entry, const Finding& f) {
  std::string line = trees::displayPath(entry.path) + ": ";
  switch (f.outcome) {
    case Outcome::Decided:
      line += encodingName(f.codePage);
      line += " (" + std::to_string(f.codePage) + ")";
      if (f.explained) line += std::string(", by ") + ruleInWords(f.rule);
      break;
    case Outcome::Undecided:
      line += "undecided";
      break;
    case Outcome::Empty:
      line += "empty";
      break;
    case Outcome::Skipped:
      line += "skipped: " + f.note;
      break;
    case Outcome::Failed:
      line += "cannot be read: " + f.note;
      break;
  }
  if (f.explained) line += readings(f.explanation, false);
  return line + "\n";
}

struct Tally {
  std::size_t utf8 = 0, sjis = 0, undecided = 0, empty = 0, skipped = 0, failed = 0;
  std::uint64_t examined = 0;

  void add(const Finding& f) {
    examined += f.examined;
    switch (f.outcome) {
      case Outcome::Decided:
        ++(f.codePage == CPG_UTF8 ? utf8 : sjis);
        break;
      case Outcome::Undecided:
        ++undecided;
        break;
      case Outcome::Empty:
        ++empty;
        break;
      case Outcome::Skipped:
        ++skipped;
        break;
      case Outcome::Failed:
        ++failed;
        break;
    }
  }
};

int run(const trees::Program& program, const trees::TreeOptions& options, bool explain) {
  trees::openAsManyFilesAsAllowed();
  trees::watchForStopSignals();
  trees::WalkOptions walkOptions;
  walkOptions.followLinks = options.followLinks;
  const std::vector<std::filesystem::path> roots = trees::pathsToWalk(options);
  const unsigned threads = trees::threadsToUse(options);
  // A buffer per worker, made when it starts its first file.
  std::vector<std::unique_ptr<std::uint8_t[]>> buffers(threads);
  const bool terminal = trees::standardErrorIsATerminal();
  trees::Progress progress(terminal);
  trees::Output output;
  Tally tally;
  std::size_t done = 0;
  trees::forEachEntry<Finding>(
      [&](const std::function<bool(trees::Entry &&)>& visit) {
        trees::walk(roots, walkOptions, visit);
      },
      threads,
      [&](const trees::Entry& entry, unsigned worker) {
        std::unique_ptr<std::uint8_t[]>& buffer = buffers[worker];
        if (buffer == nullptr) buffer.reset(new std::uint8_t[CPG_INPUT_LIMIT]);
        return examine(entry, options.followLinks, explain, buffer.get());
      },
      [&](const trees::Entry& entry, const Finding& finding) {
        progress.clear();
        output.write(options.json ? jsonLine(entry, finding) : humanLine(entry, finding));
        tally.add(finding);
        ++done;
      },
      [](const trees::Entry&, const char* what) {
        Finding finding;
        finding.note = what;
        return finding;
      },
      [&] { progress.update(done, tally.examined); });
  progress.clear();

  if (trees::wantsSummary(options, terminal)) {
    std::fprintf(stderr,
                 "%zu files: %zu UTF-8, %zu Shift_JIS, %zu undecided, %zu empty; %zu skipped, "
                 "%zu could not be read; %s examined in %.2f s\n",
                 tally.utf8 + tally.sjis + tally.undecided + tally.empty, tally.utf8, tally.sjis,
                 tally.undecided, tally.empty, tally.skipped, tally.failed,
                 trees::byteCount(tally.examined).c_str(), progress.seconds());
  }
  return trees::endOfRun(program, output,
                         tally.failed != 0 ? trees::kSomethingFailed : trees::kSucceeded,
                         "interrupted");
}

}  // namespace

int main(int argc, char** argv) {
  trees::keepStandardStreamsOpen();
  try {
    bool explain = false;
    const trees::Program program{
        "codepage-scan", kUsage, {{"explain", 0, false, kExplain}}, [&](int, const std::string&) {
          explain = true;
          return std::string();
        }};
    trees::TreeOptions options;
    const int status = trees::readCommandLine(program, argc, argv, options);
    if (status >= 0) return status;
    return run(program, options, explain);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "codepage-scan: %s\n", error.what());
    return trees::kSomethingFailed;
  }
}
