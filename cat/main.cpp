// codepage-cat: writes files to standard output as UTF-8, each by what it is,
// for the programs people read text with: git's textconv, ripgrep's --pre,
// less's LESSOPEN, bat.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "codepage_guess.h"
#include "trees/options.hpp"
#include "trees/program.hpp"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const char kUsage[] =
    "usage: codepage-cat [options] [FILE...]\n"
    "\n"
    "Writes each FILE (standard input when there is none, or for -) to standard\n"
    "output as UTF-8, by what it is: Shift_JIS, EUC-JP, ISO-2022-JP, UTF-16 and\n"
    "UTF-32 decoded; lines of UTF-8 among lines of Shift_JIS each by its own\n"
    "kind; UTF-8 and ASCII byte for byte, a byte order mark kept; binary files\n"
    "and text of no kind it knows unchanged. A byte that does not decode becomes\n"
    "U+FFFD.\n"
    "\n"
    "  -f, --from KIND  read every file as KIND: shift_jis, euc-jp, iso-2022-jp,\n"
    "                   utf-16le, utf-16be, utf-32le, utf-32be, mixed, or utf-8\n"
    "                   (byte for byte)\n"
    "  -s, --strict     a byte that does not decode is an error, not U+FFFD\n"
    "  -h, --help       this help\n"
    "  --version        the version\n"
    "\n"
    "As a filter:\n"
    "  git config diff.japanese.textconv codepage-cat   (and *.txt diff=japanese\n"
    "                                                    in .gitattributes)\n"
    "  rg --pre codepage-cat PATTERN\n"
    "  LESSOPEN='|codepage-cat %s' less FILE\n"
    "  codepage-cat FILE | bat\n"
    "\n"
    "Exit status: 0 when every file was written, 1 when one could not be read\n"
    "(or, with --strict, decoded) or standard output could not be written, 2 for\n"
    "a wrong command line.\n";

enum OptionId { kFrom = 1, kStrict, kHelp, kVersion };

constexpr std::size_t kChunk = 1 << 20;
// A pipe is held in memory up to this much to be classified whole; past it,
// what was held decides for the rest.
constexpr std::size_t kHeld = 64 << 20;

struct Settings {
  int from = -1;  // a cpg_kind, or -1: each file by its own
  bool strict = false;
};

// Where the bytes go: standard output, its first failure kept.
class Output {
 public:
  bool write(const void* data, std::size_t size) noexcept {
    if (failed_ || size == 0) return !failed_;
    if (trees::standardOutputWasClosed())
      fail(EBADF);
    else if (std::fwrite(data, 1, size, stdout) != size)
      fail(errno);
    return !failed_;
  }
  bool flush() noexcept {
    if (!failed_ && std::fflush(stdout) != 0) fail(errno);
    return !failed_;
  }
  bool failed() const noexcept { return failed_; }
  // What the failure was, in words.
  std::string problem() const {
    std::string words = std::strerror(error_);
#if defined(_WIN32)
    words += " (system error " + std::to_string(systemError_) + ")";
#endif
    return words;
  }
  // Whether the failure was the reader of a pipe going away (less quit, head
  // had enough): no failure to speak of.
  bool readerWentAway() const noexcept {
#if defined(_WIN32)
    // The C library says EINVAL for a pipe closed at the other end, as it does
    // for much else; the system's own error tells them apart. Windows says
    // the pipe is being closed, Wine that no process is on the other end.
    return error_ == EPIPE || systemError_ == ERROR_BROKEN_PIPE || systemError_ == ERROR_NO_DATA ||
           systemError_ == ERROR_PIPE_NOT_CONNECTED;
#else
    return error_ == EPIPE;
#endif
  }

 private:
  void fail(int error) noexcept {
    failed_ = true;
    error_ = error;
#if defined(_WIN32)
    systemError_ = _doserrno;
#endif
  }

  bool failed_ = false;
  int error_ = 0;
#if defined(_WIN32)
  unsigned long systemError_ = 0;
#endif
};

// A file, or standard input, read from its start.
class Input {
 public:
  bool open(const std::string& path, std::string& error) {
    path_ = path;
    if (path == "-") {
      if (trees::standardInputWasClosed()) {
        error = std::strerror(EBADF);
        return false;
      }
      file_ = stdin;
    } else {
#if defined(_WIN32)
      // Windows opens no folder as a file, and says only that access is denied.
      const DWORD attributes = GetFileAttributesA(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = std::strerror(EISDIR);
        return false;
      }
#endif
      file_ = std::fopen(path.c_str(), "rb");
      if (file_ == nullptr) {
        error = std::strerror(errno);
        return false;
      }
      owned_ = true;
    }
#if !defined(_WIN32)
    struct stat status;
    if (::fstat(fileno(file_), &status) == 0) {
      if (S_ISDIR(status.st_mode)) {
        error = std::strerror(EISDIR);
        return false;
      }
      seekable_ = S_ISREG(status.st_mode) && std::fseek(file_, 0, SEEK_CUR) == 0;
    }
#else
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_)));
    seekable_ = GetFileType(handle) == FILE_TYPE_DISK && std::fseek(file_, 0, SEEK_CUR) == 0;
#endif
    return true;
  }
  ~Input() {
    if (owned_) std::fclose(file_);
  }

  // Up to `size` bytes; 0 at the end; -1 on an error, said in `error`.
  long long read(std::uint8_t* data, std::size_t size, std::string& error) {
    const std::size_t got = std::fread(data, 1, size, file_);
    if (got == 0 && std::ferror(file_)) {
      error = std::strerror(errno);
      return -1;
    }
    return static_cast<long long>(got);
  }
  bool rewind(std::string& error) {
    if (std::fseek(file_, 0, SEEK_SET) == 0) return true;
    error = std::strerror(errno);
    return false;
  }
  bool seekable() const noexcept {
    return seekable_;
  }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
  bool seekable_ = false;
};

bool decodes(int kind) {
  switch (kind) {
    case CPG_KIND_SHIFT_JIS:
    case CPG_KIND_EUC_JP:
    case CPG_KIND_ISO_2022_JP:
    case CPG_KIND_UTF16LE:
    case CPG_KIND_UTF16BE:
    case CPG_KIND_UTF32LE:
    case CPG_KIND_UTF32BE:
    case CPG_KIND_MIXED:
      return true;
    default:
      return false;
  }
}

struct DecoderFree {
  void operator()(cpg_decoder* decoder) const noexcept { cpg_decoder_free(decoder); }
};
struct ClassifierFree {
  void operator()(cpg_classifier* classifier) const noexcept { cpg_classifier_free(classifier); }
};

// Bytes of one file on their way out: as they are, or decoded.
class Writer {
 public:
  Writer(Output& output, const Settings& settings) : output_(output), settings_(settings) {}

  // Starts a file of `kind`; false when out of memory.
  bool begin(int kind) {
    decoder_.reset();
    malformed_ = 0;
    if (!decodes(kind)) return true;
    decoder_.reset(cpg_decoder_new(kind, 0));
    return decoder_ != nullptr;
  }

  // False when standard output failed, or with --strict at a byte that does
  // not decode.
  bool write(const std::uint8_t* data, std::size_t size, bool last) {
    if (decoder_ == nullptr) return output_.write(data, size);
    for (std::size_t at = 0;;) {
      std::size_t read = 0, written = 0;
      const cpg_decode_status status = cpg_decode(decoder_.get(), data + at, size - at, buffer_,
                                                  sizeof buffer_, last ? 1 : 0, &read, &written);
      if (!output_.write(buffer_, written)) return false;
      at += read;
      if (status == CPG_DECODE_MALFORMED) {
        ++malformed_;
        if (settings_.strict) {
          cpg_decoder_malformed(decoder_.get(), &first_);
          return false;
        }
        if (!output_.write("\xEF\xBF\xBD", 3)) return false;  // U+FFFD
        continue;
      }
      if (status == CPG_DECODE_INPUT_EMPTY) return true;
    }
  }

  std::uint64_t malformed() const noexcept { return malformed_; }
  const cpg_malformed& first() const noexcept { return first_; }

 private:
  Output& output_;
  const Settings& settings_;
  std::unique_ptr<cpg_decoder, DecoderFree> decoder_;
  std::uint64_t malformed_ = 0;
  cpg_malformed first_{};
  std::uint8_t buffer_[1 << 16];
};

class Cat {
 public:
  Cat(Output& output, const Settings& settings)
      : output_(output), settings_(settings), writer_(output, settings), chunk_(kChunk) {}

  // Writes one file; false when it failed, having said why, or when standard
  // output failed.
  bool file(const std::string& path) {
    const std::string name = path == "-" ? "standard input" : path;
    std::string error;
    Input input;
    if (!input.open(path, error)) return complain(name, error);
    const bool fine = input.seekable() ? twice(input, error) : held(input, error);
    if (output_.failed()) return false;
    if (!fine && error.empty() && settings_.strict) {
      const cpg_malformed& m = writer_.first();
      char what[96];
      std::snprintf(what, sizeof what, "a byte at %llu does not decode as %s",
                    static_cast<unsigned long long>(m.offset), cpg_kind_name(kind_));
      error = what;
    }
    return fine || complain(name, error);
  }

 private:
  bool complain(const std::string& name, const std::string& error) {
    std::fprintf(stderr, "codepage-cat: %s: %s\n", name.c_str(), error.c_str());
    return false;
  }

  // A file that can be read again: once through the classifier, once out.
  bool twice(Input& input, std::string& error) {
    kind_ = settings_.from;
    if (kind_ < 0) {
      const std::unique_ptr<cpg_classifier, ClassifierFree> classifier(cpg_classifier_new());
      if (classifier == nullptr) return fail("out of memory", error);
      for (;;) {
        const long long got = input.read(chunk_.data(), chunk_.size(), error);
        if (got < 0) return false;
        if (got == 0) break;
        cpg_classifier_feed(classifier.get(), chunk_.data(), static_cast<std::size_t>(got));
      }
      cpg_description d{};
      d.size = sizeof d;
      cpg_classifier_finish(classifier.get(), &d);
      kind_ = static_cast<int>(d.kind);
      if (!input.rewind(error)) return false;
    }
    if (!writer_.begin(kind_)) return fail("out of memory", error);
    for (;;) {
      const long long got = input.read(chunk_.data(), chunk_.size(), error);
      if (got < 0) return false;
      if (!writer_.write(chunk_.data(), static_cast<std::size_t>(got), got == 0)) return false;
      if (got == 0) return true;
    }
  }

  // A pipe: held until its end, or kHeld bytes, to be classified.
  bool held(Input& input, std::string& error) {
    std::vector<std::uint8_t> held;
    bool ended = false;
    while (held.size() < kHeld) {
      const std::size_t at = held.size();
      held.resize(at + kChunk);
      const long long got = input.read(held.data() + at, kChunk, error);
      if (got < 0) return false;
      held.resize(at + static_cast<std::size_t>(got));
      if (got == 0) {
        ended = true;
        break;
      }
    }
    kind_ = settings_.from;
    if (kind_ < 0) {
      const std::unique_ptr<cpg_classifier, ClassifierFree> classifier(cpg_classifier_new());
      if (classifier == nullptr) return fail("out of memory", error);
      cpg_classifier_feed(classifier.get(), held.data(), held.size());
      cpg_description d{};
      d.size = sizeof d;
      d.flags = ended ? 0 : CPG_DESCRIBE_START_ONLY;
      cpg_classifier_finish(classifier.get(), &d);
      kind_ = static_cast<int>(d.kind);
    }
    if (!writer_.begin(kind_)) return fail("out of memory", error);
    if (!writer_.write(held.data(), held.size(), ended)) return false;
    if (ended) return true;
    held = {};
    for (;;) {
      const long long got = input.read(chunk_.data(), chunk_.size(), error);
      if (got < 0) return false;
      if (!writer_.write(chunk_.data(), static_cast<std::size_t>(got), got == 0)) return false;
      if (got == 0) return true;
    }
  }

  static bool fail(const char* why, std::string& error) {
    error = why;
    return false;
  }

  Output& output_;
  const Settings& settings_;
  Writer writer_;
  std::vector<std::uint8_t> chunk_;
  int kind_ = -1;
};

// --from's word for a kind; -1 for none.
int kindNamed(std::string name) {
  for (char& c : name)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name == "utf-8" || name == "utf8") return CPG_KIND_UTF8;
  if (name == "sjis" || name == "cp932" || name == "shift-jis") return CPG_KIND_SHIFT_JIS;
  for (int kind = 0; kind <= CPG_KIND_UNKNOWN; ++kind) {
    if (decodes(kind) && name == cpg_kind_name(kind)) return kind;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  trees::keepStandardStreamsOpen();
#if defined(_WIN32)
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  try {
    Settings settings;
    std::vector<std::string> files;
    bool help = false, version = false;
    std::string wrong;
    const std::string parsed = trees::parseCommandLine(
        argc, argv,
        {{"from", 'f', true, kFrom},
         {"strict", 's', false, kStrict},
         {"help", 'h', false, kHelp},
         {"version", 0, false, kVersion}},
        [&](int id, const std::string& value) {
          switch (id) {
            case kFrom:
              settings.from = kindNamed(value);
              if (settings.from < 0 && wrong.empty())
                wrong = "unknown kind '" + value +
                        "' (shift_jis, euc-jp, iso-2022-jp, utf-16le, utf-16be, utf-32le, "
                        "utf-32be, mixed, utf-8)";
              break;
            case kStrict:
              settings.strict = true;
              break;
            case kHelp:
              help = true;
              break;
            default:
              version = true;
          }
        },
        [&](const std::string& operand) { files.push_back(operand); });
    if (wrong.empty()) wrong = parsed;
    if (!wrong.empty()) {
      std::fprintf(stderr, "codepage-cat: %s\nTry 'codepage-cat --help' for more information.\n",
                   wrong.c_str());
      return trees::kWrongCommandLine;
    }
    Output output;
    bool fine = true;
    if (help || version) {
      const std::string text =
          help ? std::string(kUsage) : std::string("codepage-cat ") + cpg_version() + "\n";
      output.write(text.data(), text.size());
    } else {
      if (files.empty()) files.push_back("-");
      Cat cat(output, settings);
      for (const std::string& file : files) {
        fine = cat.file(file) && fine;
        if (output.failed()) break;
      }
    }
    output.flush();
    if (output.failed()) {
      // A reader that went away (less quit, head had enough) is no failure to
      // speak of, but the status says the output was cut.
      if (!output.readerWentAway())
        std::fprintf(stderr, "codepage-cat: write error: %s\n", output.problem().c_str());
      return trees::kSomethingFailed;
    }
    return fine ? trees::kSucceeded : trees::kSomethingFailed;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "codepage-cat: %s\n", error.what());
    return trees::kSomethingFailed;
  }
}
