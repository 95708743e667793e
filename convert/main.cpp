// codepage-convert: rewrites in place, as UTF-8, the files under the given
// paths that are Shift_JIS beyond doubt, and touches nothing else.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "codepage_guess.h"
#include "convert/declarations.hpp"
#include "convert/replacement.hpp"
#include "convert/transcode.hpp"
#include "trees/ignore.hpp"
#include "trees/input_file.hpp"
#include "trees/kinds.hpp"
#include "trees/pipeline.hpp"
#include "trees/program.hpp"
#include "trees/report.hpp"
#include "trees/stop.hpp"
#include "trees/walk.hpp"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

const char kUsage[] =
    "usage: codepage-convert [options] [PATH...]\n"
    "\n"
    "Rewrites in place, as UTF-8, the files under the PATHs (default: the current\n"
    "directory) that are Shift_JIS (Windows code page 932) beyond doubt, and\n"
    "touches nothing else. Each file is replaced in one step, or not at all, and\n"
    "only when every byte of it comes back from the UTF-8.\n"
    "\n"
    "  -n, --dry-run       say what would be converted, change nothing\n"
    "  --from KINDS        convert these kinds too, separated by commas: euc-jp,\n"
    "                      iso-2022-jp, utf-16, utf-32, mixed (UTF-8 and Shift_JIS\n"
    "                      lines), or all\n"
    "  --fix-declarations  make declarations of the encoding inside a file (HTML,\n"
    "                      XML, CSS, coding cookies, #pragma code_page) say UTF-8;\n"
    "                      without it such a file is left alone\n"
    "  --bom               start each new file with a byte order mark\n"
    "  --min-score S       leave alone Shift_JIS whose reading scores below S (0 to 1)\n"
    "                      against the profile of Japanese text; for a file named\n"
    "                      on the command line, a clean reading that scores S or\n"
    "                      more is taken for Japanese however short it is\n"
    "  --json              one JSON object per line\n"
    "  -0, --null          read more paths from standard input, separated by NUL bytes\n"
    "  -L, --follow        follow symbolic links to directories\n"
    "  -g, --glob GLOB     convert only files GLOB names, or with !GLOB none it names\n"
    "  --no-ignore         walk version control's folders and ignored files too\n"
    "  -j, --jobs N        convert N files at once (default: the processors available)\n"
    "  --summary           a summary on standard error (default: when it is a terminal)\n"
    "  --no-summary        no summary\n"
    "  -h, --help          this help\n"
    "  --version           the version\n"
    "\n"
    "Left alone, with the reason: files whose readers need Shift_JIS (batch files,\n"
    "registry files, scripts Windows reads in the ANSI code page), and files that\n"
    "declare an encoding without --fix-declarations. Folders of version control\n"
    "and, in a git work tree, the files git ignores are passed over, as\n"
    "codepage-scan passes them over.\n"
    "\n"
    "Exit status: 0 when nothing failed (files left alone are no failure), 1 when a\n"
    "file could not be read or converted, 2 for a wrong command line.\n";

enum OwnOption { kDryRun = trees::kOwnOptions, kMinScore, kFrom, kFixDeclarations, kBom };

enum class Action {
  Converted,
  WouldConvert,
  Left,
  Skipped,
  Failed,
  Removed,
  WouldRemove,
  Interrupted
};

struct Result {
  Action action = Action::Failed;
  std::string reason;
  int kind = -1;              // a cpg_kind, where the file was read
  std::uint64_t size = 0;     // of the original
  std::uint64_t written = 0;  // UTF-8 bytes of the new file
  bool unflushed = false;     // converted, but the directory may not be on disk
  std::size_t fixed = 0;      // declarations made to say UTF-8
};

struct Settings {
  bool dryRun = false;
  std::optional<double> minScore;
  std::set<int> from;  // kinds converted beside Shift_JIS
  bool fixDeclarations = false;
  bool bom = false;
};

Result left(std::string why) {
  return {Action::Left, std::move(why)};
}
Result failed(std::string why) {
  return {Action::Failed, std::move(why)};
}

#if defined(_WIN32)
bool writable(const trees::Entry& entry) {
  const DWORD attributes = GetFileAttributesW(entry.path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}
bool folderWritable(const trees::Entry&) {
  return true;  // creating the temporary file tells
}
#else
bool writable(const trees::Entry& entry) {
  return ::faccessat(entry.directory->descriptor(), entry.name.c_str(), W_OK, AT_EACCESS) == 0;
}
bool folderWritable(const trees::Entry& entry) {
  return ::faccessat(entry.directory->descriptor(), ".", W_OK | X_OK, AT_EACCESS) == 0;
}
#endif

// What the whole file is, for the reason a file is left alone.
std::string whyNotConverted(const cpg_description& d) {
  const int kind = static_cast<int>(d.kind);
  switch (kind) {
    case CPG_KIND_EMPTY:
      return "empty";
    case CPG_KIND_ASCII:
      return "ASCII: nothing to convert";
    case CPG_KIND_UTF8:
      return "already UTF-8";
    case CPG_KIND_MIXED:
      return d.utf8_line > d.sjis_line
                 ? "mixed UTF-8 and Shift_JIS: UTF-8 at line " + std::to_string(d.utf8_line)
                 : "mixed UTF-8 and Shift_JIS: Shift_JIS at line " + std::to_string(d.sjis_line);
    default:
      return std::string(trees::kindInWords(kind, d.bom != 0)) + ": not converted";
  }
}

class Converter {
 public:
  explicit Converter(const Settings& settings) : settings_(settings) {}

  Result convert(const trees::Entry& entry, std::uint8_t* buffer) {
    switch (entry.kind) {
      case trees::EntryKind::Skipped:
        return {Action::Skipped, entry.note};
      case trees::EntryKind::Failed:
        return failed(entry.note);
      case trees::EntryKind::Temporary:
        return leftOver(entry);
      case trees::EntryKind::File:
        break;
    }
    if (trees::stopRequested()) return {Action::Interrupted, ""};
    std::string error;
    trees::InputFile file;
    trees::FileState before;
    switch (file.open(entry, false, before, error)) {
      case trees::InputFile::Opened::Yes:
        break;
      case trees::InputFile::Opened::Link:
      case trees::InputFile::Opened::NotRegular:
        return {Action::Skipped, error};
      case trees::InputFile::Opened::Failed:
        return failed(error);
    }
    Result result = [&]() -> Result {
      if (before.links > 1) return left("it has " + std::to_string(before.links) + " hard links");
      if (!writable(entry)) return left("not writable");
      if (!folderWritable(entry)) return left("its folder is not writable");
      const std::string lost = convert::whatCannotBeKept(entry, before);
      if (!lost.empty()) return left(lost);
      return rewrite(entry, file, before, buffer);
    }();
    result.size = before.size;
    return result;
  }

 private:
  // What the whole file is: read once through the classifier, its first
  // bytes kept for the checks that need them.
  Result classify(trees::InputFile& file, const trees::FileState& before, std::uint8_t* buffer,
                  bool given, cpg_description& d, std::string& start) const {
    const std::unique_ptr<cpg_classifier, void (*)(cpg_classifier*)> classifier(
        cpg_classifier_new(), cpg_classifier_free);
    if (classifier == nullptr) return failed("out of memory");
    std::string error;
    for (bool first = true;; first = false) {
      const std::int64_t read = first ? file.readFully(buffer, CPG_INPUT_LIMIT, error, before.size)
                                      : file.read(buffer, CPG_INPUT_LIMIT, error);
      if (read < 0) return failed(error);
      if (read == 0) break;
      cpg_classifier_feed(classifier.get(), buffer, static_cast<std::size_t>(read));
      if (first) {
        start.assign(reinterpret_cast<const char*>(buffer),
                     std::min<std::size_t>(static_cast<std::size_t>(read), 64));
        // A NUL byte early makes a binary, whatever follows.
        d = cpg_description{};
        d.size = sizeof d;
        d.flags = CPG_DESCRIBE_START_ONLY;
        cpg_classifier_finish(classifier.get(), &d);
        if (d.kind == CPG_KIND_BINARY) return {Action::Left, whyNotConverted(d), CPG_KIND_BINARY};
      }
      if (trees::stopRequested()) return {Action::Interrupted, ""};
    }
    d = cpg_description{};
    d.size = sizeof d;
    cpg_classifier_finish(classifier.get(), &d);
    // A person may say that short text is Japanese: a file given by name whose
    // Shift_JIS reading is clean and scores as --min-score asks.
    if (d.kind == CPG_KIND_UNKNOWN && given && settings_.minScore &&
        d.score >= *settings_.minScore) {
      cpg_description japanese{};
      japanese.size = sizeof japanese;
      japanese.flags = CPG_DESCRIBE_JAPANESE;
      cpg_classifier_finish(classifier.get(), &japanese);
      if (japanese.kind == CPG_KIND_SHIFT_JIS) d = japanese;
    }
    return {Action::Converted, ""};
  }

  bool converts(int kind) const {
    return kind == CPG_KIND_SHIFT_JIS || settings_.from.count(kind) != 0;
  }

  // Reads the whole file twice: once to know what it is, once to write its
  // UTF-8 beside it, which is kept only if every byte came back and nothing
  // the file declares of itself is left to say otherwise.
  Result rewrite(const trees::Entry& entry, trees::InputFile& file, const trees::FileState& before,
                 std::uint8_t* buffer) const {
    cpg_description d{};
    std::string start, error;
    if (Result r = classify(file, before, buffer, entry.given, d, start);
        r.action != Action::Converted)
      return r;
    const int kind = static_cast<int>(d.kind);
    const auto leave = [&](std::string why) {
      Result result = left(std::move(why));
      result.kind = kind;
      return result;
    };
    if (!converts(kind)) return leave(whyNotConverted(d));
    if (settings_.minScore && !entry.given && kind == CPG_KIND_SHIFT_JIS &&
        d.score < *settings_.minScore) {
      char text[96];
      std::snprintf(text, sizeof text, "Shift_JIS scoring %.3f, below %.3f", d.score,
                    *settings_.minScore);
      return leave(text);
    }
    const std::string name = entry.path.filename().string();
    if (const std::string why =
            convert::readersNeedShiftJIS(name, start.data(), start.size(), settings_.bom);
        !why.empty())
      return leave(why);

    convert::Replacement replacement;
    if (!settings_.dryRun && !replacement.begin(entry, error)) return failed(error);
    const convert::Transcoding how{kind, settings_.fixDeclarations, settings_.bom};
    convert::Transcoded done;
    std::string writeError;
    const bool fine = convert::transcode(
        file, how, buffer, CPG_INPUT_LIMIT,
        [&](const char* data, std::size_t size) {
          return settings_.dryRun || replacement.write(data, size, writeError);
        },
        done, error);
    if (!fine) return failed(writeError.empty() ? error : writeError);
    const char* words = trees::kindInWords(kind, d.bom != 0);
    if (!done.whole) return leave(std::string(words) + ", but " + done.problem);
    if (!done.declarations.empty() && !settings_.fixDeclarations) {
      const convert::Declaration& first = done.declarations.front();
      return leave("it declares " + first.value + " (" + first.form + ") at line " +
                   std::to_string(first.line) + ": --fix-declarations makes it say UTF-8");
    }
    if (needsResourcePragma(name, done)) {
      return leave("read by rc.exe in the ANSI code page without #pragma code_page(65001)");
    }
    trees::FileState after;
    if (!file.state(after, error)) return failed(error);
    if (!after.unchangedSince(before)) return leave("it changed while it was being converted");
    Result result{settings_.dryRun ? Action::WouldConvert : Action::Converted, "", kind, 0,
                  done.written};
    result.fixed = done.declarations.size();
    if (settings_.dryRun) return result;
    switch (replacement.commit(file, before, error)) {
      case convert::Replacement::Outcome::Replaced:
        return result;
      case convert::Replacement::Outcome::Unflushed:
        result.reason = error;
        result.unflushed = true;
        return result;
      case convert::Replacement::Outcome::LeftAlone:
        return leave(error);
      case convert::Replacement::Outcome::Failed:
        break;
    }
    return failed(error);
  }

  // A resource script rc.exe reads as UTF-8 only after #pragma code_page(65001).
  static bool needsResourcePragma(const std::string& name, const convert::Transcoded& done) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string extension = name.substr(dot);
    for (char& c : extension)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".rc") return false;
    return !done.pragma;
  }

  Result leftOver(const trees::Entry& entry) const {
    std::string error;
    switch (convert::removeLeftOver(entry, settings_.dryRun, error)) {
      case convert::LeftOver::Removed:
        return {settings_.dryRun ? Action::WouldRemove : Action::Removed,
                "left by an interrupted run"};
      case convert::LeftOver::InUse:
        return {Action::Skipped, "the temporary file of a run going on"};
      case convert::LeftOver::Failed:
        break;
    }
    return failed(error);
  }

  const Settings& settings_;
};

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
    case Action::WouldRemove:
      return "would_remove";
    case Action::Failed:
    case Action::Interrupted:
      break;
  }
  return "error";
}

// "converted from EUC-JP to UTF-8, its declaration made to say UTF-8"
std::string conversion(const Result& r, bool bom) {
  std::string out = r.kind == CPG_KIND_SHIFT_JIS || r.kind < 0
                        ? std::string(" to ")
                        : std::string(" from ") + trees::kindInWords(r.kind, false) + " to ";
  out += bom ? "UTF-8 with a byte order mark" : "UTF-8";
  if (r.fixed == 1) out += ", its declaration made to say UTF-8";
  if (r.fixed > 1) out += ", " + std::to_string(r.fixed) + " declarations made to say UTF-8";
  return out;
}

std::string line(const std::filesystem::path& path, const Result& r, bool json, bool bom) {
  if (json) {
    std::string out = "{";
    trees::appendJsonPath(out, "path", path);
    out += ",\"action\":\"";
    out += actionName(r.action);
    out += "\"";
    if (r.action == Action::Converted || r.action == Action::WouldConvert ||
        r.action == Action::Left)
      out += ",\"size\":" + std::to_string(r.size);
    if (r.kind >= 0) out += std::string(",\"kind\":\"") + cpg_kind_name(r.kind) + "\"";
    if (r.action == Action::Converted || r.action == Action::WouldConvert) {
      out += ",\"utf8_size\":" + std::to_string(r.written);
      out += ",\"fixed_declarations\":" + std::to_string(r.fixed);
      if (bom) out += ",\"bom\":true";
    }
    if (!r.reason.empty()) {
      out += r.unflushed ? ",\"warning\":" : ",\"reason\":";
      trees::appendJsonString(out, r.reason);
    }
    return out + "}\n";
  }
  std::string out = trees::displayPath(path) + ": ";
  switch (r.action) {
    case Action::Converted:
      out += "converted" + conversion(r, bom);
      if (r.unflushed) out += ", but " + r.reason;
      break;
    case Action::WouldConvert:
      out += "would be converted" + conversion(r, bom);
      break;
    case Action::Left:
      out += "left alone: " + r.reason;
      break;
    case Action::Skipped:
      out += "skipped: " + r.reason;
      break;
    case Action::Removed:
      out += "removed: " + r.reason;
      break;
    case Action::WouldRemove:
      out += "would be removed: " + r.reason;
      break;
    case Action::Failed:
    case Action::Interrupted:
      out += "failed: " + r.reason;
      break;
  }
  return out + "\n";
}

struct Tally {
  std::size_t converted = 0, leftAlone = 0, skipped = 0, failures = 0;
  std::uint64_t written = 0;

  void add(const Result& result) {
    switch (result.action) {
      case Action::Converted:
      case Action::WouldConvert:
        ++converted;
        written += result.written;
        failures += result.unflushed ? 1 : 0;
        break;
      case Action::Left:
        ++leftAlone;
        break;
      case Action::Skipped:
      case Action::Removed:
      case Action::WouldRemove:
        ++skipped;
        break;
      case Action::Failed:
        ++failures;
        break;
      case Action::Interrupted:
        break;
    }
  }
};

int run(const trees::Program& program, const trees::TreeOptions& options,
        const Settings& settings) {
  trees::openAsManyFilesAsAllowed();
  trees::watchForStopSignals();
  trees::PathFilter filter(!options.noIgnore, options.globs);
  trees::WalkOptions walkOptions;
  walkOptions.followLinks = options.followLinks;
  walkOptions.filter = &filter;
  walkOptions.isTemporary = convert::isTemporary;
  const std::vector<std::filesystem::path> roots = trees::pathsToWalk(options);
  const unsigned threads = trees::threadsToUse(options);
  std::vector<std::unique_ptr<std::uint8_t[]>> buffers(threads);
  const bool terminal = trees::standardErrorIsATerminal();
  trees::Progress progress(terminal);
  trees::Output output;
  Converter converter(settings);
  Tally tally;
  std::size_t done = 0;
  trees::forEachEntry<Result>(
      [&](const std::function<bool(trees::Entry &&)>& visit) {
        trees::walk(roots, walkOptions, visit);
      },
      threads,
      [&](const trees::Entry& entry, unsigned worker) {
        std::unique_ptr<std::uint8_t[]>& buffer = buffers[worker];
        if (buffer == nullptr) buffer.reset(new std::uint8_t[CPG_INPUT_LIMIT]);
        return converter.convert(entry, buffer.get());
      },
      [&](const trees::Entry& entry, const Result& result) {
        // A file a stop caught in the middle is as it was: nothing to say.
        if (result.action == Action::Interrupted) return;
        progress.clear();
        output.write(line(entry.path, result, options.json, settings.bom));
        tally.add(result);
        ++done;
      },
      [](const trees::Entry&, const char* what) { return failed(what); },
      [&] { progress.update(done, tally.written); });
  progress.clear();

  if (trees::wantsSummary(options, terminal)) {
    std::fprintf(
        stderr,
        "%zu files: %zu %s, %zu left alone, %zu skipped, %zu failed; %s of UTF-8 in %.2f s\n",
        tally.converted + tally.leftAlone + tally.skipped + tally.failures, tally.converted,
        settings.dryRun ? "would be converted" : "converted", tally.leftAlone, tally.skipped,
        tally.failures, trees::byteCount(tally.written).c_str(), progress.seconds());
  }
  return trees::endOfRun(program, output,
                         tally.failures != 0 ? trees::kSomethingFailed : trees::kSucceeded,
                         "interrupted; every file is as it was or converted whole");
}

// Reads --from's list into `from`: "" or what is wrong with it.
std::string readKinds(const std::string& list, std::set<int>& from) {
  struct Name {
    const char* name;
    std::vector<int> kinds;
  };
  const Name names[] = {
      {"euc-jp", {CPG_KIND_EUC_JP}},
      {"iso-2022-jp", {CPG_KIND_ISO_2022_JP}},
      {"utf-16", {CPG_KIND_UTF16LE, CPG_KIND_UTF16BE}},
      {"utf-32", {CPG_KIND_UTF32LE, CPG_KIND_UTF32BE}},
      {"mixed", {CPG_KIND_MIXED}},
      {"shift_jis", {}},
      {"all",
       {CPG_KIND_EUC_JP, CPG_KIND_ISO_2022_JP, CPG_KIND_UTF16LE, CPG_KIND_UTF16BE, CPG_KIND_UTF32LE,
        CPG_KIND_UTF32BE, CPG_KIND_MIXED}},
  };
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    std::string word =
        list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    for (char& c : word)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const Name* found = nullptr;
    for (const Name& n : names) {
      if (word == n.name) found = &n;
    }
    if (found == nullptr) {
      return "unknown kind '" + word +
             "' in --from (euc-jp, iso-2022-jp, utf-16, utf-32, mixed, all)";
    }
    from.insert(found->kinds.begin(), found->kinds.end());
    if (comma == std::string::npos) return "";
    start = comma + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  trees::keepStandardStreamsOpen();
  try {
    Settings settings;
    const trees::Program program{
        "codepage-convert",
        kUsage,
        {{"dry-run", 'n', false, kDryRun},
         {"min-score", 0, true, kMinScore},
         {"from", 0, true, kFrom},
         {"fix-declarations", 0, false, kFixDeclarations},
         {"bom", 0, false, kBom}},
        [&](int id, const std::string& value) -> std::string {
          switch (id) {
            case kDryRun:
              settings.dryRun = true;
              return "";
            case kFrom:
              return readKinds(value, settings.from);
            case kFixDeclarations:
              settings.fixDeclarations = true;
              return "";
            case kBom:
              settings.bom = true;
              return "";
            default:
              break;
          }
          char* end = nullptr;
          const double score = std::strtod(value.c_str(), &end);
          if (value.empty() || *end != '\0' || !(score >= 0.0 && score <= 1.0))
            return "invalid score: '" + value + "' (0 to 1)";
          settings.minScore = score;
          return "";
        }};
    trees::TreeOptions options;
    const int status = trees::readCommandLine(program, argc, argv, options);
    if (status >= 0) return status;
    return run(program, options, settings);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "codepage-convert: %s\n", error.what());
    return trees::kSomethingFailed;
  }
}
