#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "trees/walk.hpp"

namespace trees {

// What is known of a file: who it is, and enough to tell that it changed.
struct FileState {
  std::uint64_t device = 0;  // the volume's serial number on Windows
  std::uint64_t inode = 0;   // the file index on Windows
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // in the system's finest unit
  std::uint64_t links = 0;
  std::uint32_t mode = 0;  // POSIX permission bits
  std::uint32_t owner = 0, group = 0;

  bool sameFile(const FileState& other) const noexcept {
    return device == other.device && inode == other.inode;
  }
  bool unchangedSince(const FileState& before) const noexcept {
    return sameFile(before) && size == before.size && modified == before.modified;
  }
};

// A regular file open for reading. Opening never waits: a FIFO has no writer
// to wait for, and whatever is not a regular file once open is refused, so a
// FIFO or device put in a file's place after the walk cannot block the reader.
class InputFile {
 public:
  InputFile() noexcept = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  enum class Opened { Yes, Link, NotRegular, Failed };

  // Opens an entry of the walk. A symbolic link is opened only when
  // `followLinks`. Fills `state` as state() does. On failure `error` says
  // why, in the system's words.
  Opened open(const Entry& entry, bool followLinks, FileState& state, std::string& error);
  bool state(FileState& state, std::string& error) const;
  // Up to `size` bytes, fewer only at the end of the file; -1 on an error.
  std::int64_t read(std::uint8_t* buffer, std::size_t size, std::string& error);
  // Reads until `size` bytes or the end of the file, which is taken to be
  // `expected` bytes from the start when that is known (not 0): one request
  // for a file that does not change meanwhile.
  std::int64_t readFully(std::uint8_t* buffer, std::size_t size, std::string& error,
                         std::uint64_t expected = 0);
  // Back to the first byte, for a second reading.
  bool rewind(std::string& error);
#if !defined(_WIN32)
  int descriptor() const noexcept {
    return descriptor_;
  }
#endif

 private:
#if defined(_WIN32)
  void* handle_ = nullptr;
#else
  int descriptor_ = -1;
#endif
};

// The state of the entry's file itself, a symbolic link not followed.
bool stateOf(const Entry& entry, FileState& state, std::string& error);

// The system's message for the last error of this thread (errno, or Windows'
// last error).
std::string lastErrorMessage();

}  // namespace trees
