#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "trees/input_file.hpp"

namespace convert {

// A file's new contents, written beside it and put in its place in one step,
// as careful editors save: a temporary file in the same directory, flushed to
// disk, renamed over the original (on Windows, ReplaceFileW), the directory
// flushed. Until commit() succeeds the original is untouched; a replacement
// destroyed before that removes its temporary file.
class Replacement {
 public:
  Replacement() noexcept = default;
  ~Replacement();
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  bool begin(const std::filesystem::path& original, std::string& error);
  bool write(const void* data, std::size_t size, std::string& error);
  // Gives the new file the original's permission bits (and owner, when run as
  // root), flushes it, and puts it in the original's place if the original is
  // still the file that was read, unchanged.
  bool commit(const trees::FileState& read, std::string& error);

 private:
  void discard() noexcept;

  std::filesystem::path original_, temporary_;
#if defined(_WIN32)
  void* handle_ = nullptr;
#else
  int descriptor_ = -1;
#endif
};

// Whether `path` is named as a temporary file of a Replacement.
bool isTemporary(const std::filesystem::path& path);

// Whether `path` is a temporary file of a run that was killed before it could
// remove it: one of ours, whose process is gone.
bool isLeftOver(const std::filesystem::path& path);

}  // namespace convert
