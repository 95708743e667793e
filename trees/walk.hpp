#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// The walk that codepage-scan and codepage-convert share: every file under
// the paths given, in an order that does not depend on the file system or on
// the number of threads that later look at the files.
namespace trees {

enum class Kind {
  File,     // a regular file: examine it
  Skipped,  // a symbolic link not followed, a FIFO, a device, a socket, a loop
  Failed,   // it could not be looked at: missing, or a directory that cannot be read
};

struct Entry {
  std::filesystem::path path;
  Kind kind;
  std::string note;  // why it was skipped, or what failed
};

struct WalkOptions {
  bool followLinks = false;
  // Called for each file a directory holds, before it becomes an entry; a
  // file it returns true for is left out (codepage-convert's own temporary
  // files).
  std::function<bool(const std::filesystem::path&)> leaveOut;
};

// Each path as given, then, for a directory, its entries sorted by name (byte
// by byte), depth first. Symbolic links are entries of their own unless
// followed; a link that leads back into a directory being walked is a loop.
std::vector<Entry> walk(const std::vector<std::filesystem::path>& roots,
                        const WalkOptions& options);

// A path from the bytes of its name: as they are on POSIX systems, UTF-8 on
// Windows.
std::filesystem::path pathFromBytes(const std::string& bytes);

// Paths separated by NUL bytes (a last one may lack its NUL), as `git ls-files
// -z` and `find -print0` write them; empty ones are ignored.
std::vector<std::filesystem::path> readNulSeparated(std::FILE* stream);

}  // namespace trees
