#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The walk that codepage-scan and codepage-convert share: every file under
// the paths given, in an order that does not depend on the file system or on
// the number of threads that later look at the files. Each directory is
// opened relative to the one it is in, so no path is ever too long for the
// system, and entries are handed on as they are found.
namespace trees {

// An open directory. Its entries keep it open while they wait to be looked
// at; the walk may close and reopen a directory it has gone below, when too
// many are open at once.
class Directory {
 public:
  Directory(std::string name, std::filesystem::path path, std::uint64_t device,
            std::uint64_t inode);
  ~Directory();
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  // Where it is: the path to show, and on Windows the path to open through.
  const std::filesystem::path& path() const noexcept { return path_; }
#if !defined(_WIN32)
  // Its descriptor; valid while an entry in it is alive.
  int descriptor() const noexcept {
    return descriptor_;
  }
#endif

 private:
  friend class Walker;
  std::string name_;  // in the directory it is in
  std::filesystem::path path_;
  std::uint64_t device_, inode_;
#if !defined(_WIN32)
  int descriptor_ = -1;
#endif
};

enum class EntryKind {
  File,       // a regular file: examine it
  Temporary,  // one of codepage-convert's own temporary files
  Skipped,    // a symbolic link not followed, a FIFO, a device, a socket, a loop
  Failed,     // it could not be looked at: missing, or a directory that cannot be read
};

struct Entry {
  std::shared_ptr<const Directory> directory;  // where it is; only set for files
  std::string name;                            // its name there
  std::filesystem::path path;                  // for people: as given, then names
  EntryKind kind = EntryKind::File;
  std::string note;    // why it was skipped, or what failed
  bool given = false;  // a file named on the command line, not found in a folder
};

class PathFilter;

struct WalkOptions {
  bool followLinks = false;
  // What to pass over (ignored files, --glob); the paths given are always
  // walked.
  PathFilter* filter = nullptr;
  // Names of files that are codepage-convert's own temporary files.
  std::function<bool(const std::string& name)> isTemporary;
};

// Each path as given, then, for a directory, its entries sorted by name (byte
// by byte), depth first. Symbolic links are entries of their own unless
// followed; a link that leads back into a directory being walked is a loop.
// Calls visit(entry) for each, in order; stops when it returns false.
void walk(const std::vector<std::filesystem::path>& roots, const WalkOptions& options,
          const std::function<bool(Entry&&)>& visit);

// A path from the bytes of its name: as they are on POSIX systems, UTF-8 on
// Windows.
std::filesystem::path pathFromBytes(const std::string& bytes);

// Paths separated by NUL bytes (a last one may lack its NUL), as `git ls-files
// -z` and `find -print0` write them; empty ones are ignored.
std::vector<std::filesystem::path> readNulSeparated(std::FILE* stream);

// Lets this process open as many files as it may: a walk keeps a descriptor
// for each directory it is inside.
void openAsManyFilesAsAllowed() noexcept;

}  // namespace trees
