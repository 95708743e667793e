#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

// Writing what the programs found: paths for people and for JSON, the
// progress line and the end's summary.
namespace trees {

// The path for a person to read: its bytes, with control characters (a
// newline in a name, say) written as \n, \t or \xHH and, where it is no
// separator, a backslash as \\, so that one file is one line.
std::string displayPath(const std::filesystem::path& path);

// Appends `"key":"value"` for JSON. A name that is not UTF-8 gets a readable
// value, with U+FFFD for each byte that does not fit, and `"key_bytes"` with
// its exact bytes in base64.
void appendJsonPath(std::string& out, const char* key, const std::filesystem::path& path);

// Appends a JSON string of UTF-8 text.
void appendJsonString(std::string& out, const std::string& text);

bool standardErrorIsATerminal();

// The number of processors this process may run on.
unsigned processorsAvailable();

// One line on standard error, rewritten in place, once a run has lasted a
// second: only where standard error is a terminal.
class Progress {
 public:
  explicit Progress(bool enabled);
  void update(std::size_t done, std::uint64_t bytes);
  void clear();
  double seconds() const;

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_, last_;
};

// "12.3 MiB" and the like.
std::string byteCount(std::uint64_t bytes);

}  // namespace trees
