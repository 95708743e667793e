#pragma once

#include <cstddef>
#include <string>

#include "trees/input_file.hpp"
#include "trees/walk.hpp"

namespace convert {

// A file's new contents, written beside it and put in its place in one step,
// as careful editors save: a temporary file in the same directory, given
// everything of the original that a rename would lose (owner, group,
// permission bits, extended attributes with their ACLs and security labels),
// flushed to disk, renamed over the original (on Windows, ReplaceFileW), the
// directory flushed. Until commit() succeeds the original is untouched; a
// replacement destroyed before that removes its temporary file.
//
// The temporary file has a random name and is locked while it exists, so
// that another run can tell a file of a run that was killed (unlocked, to be
// removed) from one of a run going on.
class Replacement {
 public:
  Replacement() noexcept = default;
  ~Replacement();
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  bool begin(const trees::Entry& original, std::string& error);
  bool write(const void* data, std::size_t size, std::string& error);
  void discard() noexcept;

  enum class Outcome {
    Replaced,
    Unflushed,  // replaced, but the directory could not be flushed to disk
    LeftAlone,  // something of the original cannot be kept, or it changed
    Failed,
  };
  // Puts the new file in the original's place if it can have everything the
  // original has, and the original is still the file that was read,
  // unchanged. `why` says what went wrong.
  Outcome commit(const trees::InputFile& original, const trees::FileState& read, std::string& why);

 private:
  const trees::Entry* original_ = nullptr;
  std::string name_;  // the temporary file's, in the original's directory
#if defined(_WIN32)
  void* handle_ = nullptr;
#else
  int descriptor_ = -1;
#endif
};

// Why the file could not become its replacement without losing something,
// checked before anything is written: "" when nothing stands in the way.
std::string whatCannotBeKept(const trees::Entry& entry, const trees::FileState& state);

// Whether `name` is named as a temporary file of a Replacement.
bool isTemporary(const std::string& name);

// A temporary file found by the walk: one of a run that was killed is
// removed (unless `dryRun`); one that a run going on holds is left to it.
enum class LeftOver { Removed, InUse, Failed };
LeftOver removeLeftOver(const trees::Entry& entry, bool dryRun, std::string& error);

}  // namespace convert
