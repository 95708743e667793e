// codepage-scan: what every file under the given paths is written in, by the
// decision of codepage-guess, one line per file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codepage_guess.h"
#include "trees/ignore.hpp"
#include "trees/input_file.hpp"
#include "trees/kinds.hpp"
#include "trees/pipeline.hpp"
#include "trees/program.hpp"
#include "trees/report.hpp"
#include "trees/stop.hpp"
#include "trees/walk.hpp"

namespace {

const char kUsage[] =
    "usage: codepage-scan [options] [PATH...]\n"
    "\n"
    "Says what each file under the PATHs (default: the current directory) is, from\n"
    "its first mebibyte: UTF-8, Shift_JIS, EUC-JP, ISO-2022-JP, UTF-16 or UTF-32\n"
    "with a byte order mark, ASCII, mixed UTF-8 and Shift_JIS, binary or unknown\n"
    "8-bit text, beside the verdict of codepage-guess (UTF-8 or Shift_JIS).\n"
    "\n"
    "  --json          one JSON object per line\n"
    "  --explain       both readings' error counts and scores (reads every byte of\n"
    "                  the first mebibyte the long way)\n"
    "  -0, --null      read more paths from standard input, separated by NUL bytes\n"
    "                  (git ls-files -z | codepage-scan -0)\n"
    "  -L, --follow    follow symbolic links\n"
    "  -g, --glob GLOB examine only files GLOB names, or with !GLOB none it names;\n"
    "                  gitignore's rules, the last one given first, over ignore files\n"
    "  --no-ignore     walk everything: version control's folders, ignored files\n"
    "  -j, --jobs N    examine N files at once (default: the processors available)\n"
    "  --summary       a summary on standard error (default: when it is a terminal)\n"
    "  --no-summary    no summary\n"
    "  -h, --help      this help\n"
    "  --version       the version\n"
    "\n"
    "Folders of version control (.git, .hg, .svn) are passed over, and inside a git\n"
    "work tree so are the files git ignores (.gitignore, .git/info/exclude,\n"
    "core.excludesFile). The PATHs given are always examined.\n"
    "\n"
    "Exit status: 0 when every file could be read, 1 when some could not, 2 for a\n"
    "wrong command line.\n";

enum OwnOption { kExplain = trees::kOwnOptions };

// A file is either described, or it could not be: skipped or failed.
enum class Outcome { Described, Skipped, Failed };

struct Finding {
  Outcome outcome = Outcome::Failed;
  cpg_description description{};
  std::uint64_t size = 0;  // the whole file's
  std::string note;        // why skipped, what failed
  bool explained = false;
  cpg_explanation explanation{};
};

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
  const auto size = static_cast<std::size_t>(read);
  cpg_description& d = finding.description;
  d.size = sizeof d;
  // The first mebibyte of a longer file is its start only.
  d.flags = state.size > size ? CPG_DESCRIBE_START_ONLY : 0;
  cpg_describe(buffer, size, &d);
  if (explain && size != 0) {
    finding.explanation.size = sizeof finding.explanation;
    if (cpg_explain(buffer, size, &finding.explanation) != CPG_OK) {
      finding.note = "out of memory";
      return finding;
    }
    finding.explained = true;
  }
  finding.outcome = Outcome::Described;
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
  const cpg_description& d = f.description;
  switch (f.outcome) {
    case Outcome::Described:
      line += ",\"code_page\":";
      line += d.code_page != CPG_UNDECIDED ? std::to_string(d.code_page) : "null";
      line += ",\"size\":" + std::to_string(f.size) + ",\"rule\":\"";
      line += d.kind == CPG_KIND_EMPTY ? "empty" : ruleName(d.rule);
      line += std::string("\",\"kind\":\"") + cpg_kind_name(static_cast<int>(d.kind)) + "\"";
      line += d.bom != 0 ? ",\"bom\":true" : ",\"bom\":false";
      line += d.ambiguous != 0 ? ",\"ambiguous\":true" : ",\"ambiguous\":false";
      if (d.utf8_line != 0) line += ",\"utf8_line\":" + std::to_string(d.utf8_line);
      if (d.sjis_line != 0) line += ",\"sjis_line\":" + std::to_string(d.sjis_line);
      if (f.explained) line += readings(f.explanation, true);
      break;
    case Outcome::Skipped:
      line += ",\"code_page\":null,\"skipped\":";
      trees::appendJsonString(line, f.note);
      break;
    case Outcome::Failed:
      line += ",\"code_page\":null,\"error\":";
      trees::appendJsonString(line, f.note);
      break;
  }
  return line + "}\n";
}

// The kind in words, and the verdict of codepage-guess where it says
// something else of the file.
std::string humanLine(const trees::Entry& entry, const Finding& f) {
  std::string line = trees::displayPath(entry.path) + ": ";
  const cpg_description& d = f.description;
  switch (f.outcome) {
    case Outcome::Described: {
      const auto kind = static_cast<int>(d.kind);
      line += trees::kindInWords(kind, d.bom != 0);
      if (d.ambiguous != 0) line += ", also valid Shift_JIS";
      const bool agrees = (kind == CPG_KIND_UTF8 && d.code_page == CPG_UTF8) ||
                          (kind == CPG_KIND_SHIFT_JIS && d.code_page == CPG_SHIFT_JIS);
      if (agrees) {
        line += " (" + std::to_string(d.code_page) + ")";
      } else if (d.code_page != CPG_UNDECIDED) {
        line += " (codepage-guess: " + std::to_string(d.code_page) + ")";
      }
      if (kind == CPG_KIND_MIXED)
        line += ", UTF-8 from line " + std::to_string(d.utf8_line) + ", Shift_JIS from line " +
                std::to_string(d.sjis_line);
      if (f.explained) {
        line += std::string(", by ") + ruleInWords(d.rule) + readings(f.explanation, false);
      }
      break;
    }
    case Outcome::Skipped:
      line += "skipped: " + f.note;
      break;
    case Outcome::Failed:
      line += "cannot be read: " + f.note;
      break;
  }
  return line + "\n";
}

// How many files of each kind, in the order of cpg_kind.
struct Tally {
  std::size_t kinds[CPG_KIND_UNKNOWN + 1] = {};
  std::size_t skipped = 0, failed = 0;
  std::uint64_t examined = 0;

  void add(const Finding& f) {
    switch (f.outcome) {
      case Outcome::Described:
        ++kinds[std::min<std::uint32_t>(f.description.kind, CPG_KIND_UNKNOWN)];
        examined += f.description.examined;
        break;
      case Outcome::Skipped:
        ++skipped;
        break;
      case Outcome::Failed:
        ++failed;
        break;
    }
  }

  std::string summary(double seconds) const {
    std::size_t files = 0;
    std::string counts;
    for (int kind = CPG_KIND_EMPTY; kind <= CPG_KIND_UNKNOWN; ++kind) {
      files += kinds[kind];
      if (kinds[kind] == 0) continue;
      counts += (counts.empty() ? "" : ", ") + std::to_string(kinds[kind]) + " " +
                trees::kindInWords(kind, false);
    }
    char text[160];
    std::snprintf(text, sizeof text,
                  "; %zu skipped, %zu could not be read; %s examined in %.2f s\n", skipped, failed,
                  trees::byteCount(examined).c_str(), seconds);
    return std::to_string(files) + " files" + (counts.empty() ? "" : ": " + counts) + text;
  }
};

int run(const trees::Program& program, const trees::TreeOptions& options, bool explain) {
  trees::openAsManyFilesAsAllowed();
  trees::watchForStopSignals();
  trees::PathFilter filter(!options.noIgnore, options.globs);
  trees::WalkOptions walkOptions;
  walkOptions.followLinks = options.followLinks;
  walkOptions.filter = &filter;
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

  if (trees::wantsSummary(options, terminal))
    std::fputs(tally.summary(progress.seconds()).c_str(), stderr);
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
