#include "convert/replacement.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#if defined(__linux__)
#include <sys/xattr.h>
#endif
#endif

namespace convert {
namespace {

// .codepage-convert-0123456789abcdef.tmp, and the names of earlier versions,
// .codepage-convert-PID-N.tmp.
const char kPrefix[] = ".codepage-convert-";
const char kSuffix[] = ".tmp";

// 64 random bits a name: from the system's random source once, then a
// counter through a mixing function, so that names never repeat in a run
// and hardly ever across runs.
std::string randomName() {
  static const std::uint64_t seed = [] {
    std::random_device source;
    return (std::uint64_t{source()} << 32) ^ source();
  }();
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t x = seed + 0x9E3779B97F4A7C15ull * (counter.fetch_add(1) + 1);
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  static const char kHex[] = "0123456789abcdef";
  std::string name = kPrefix;
  for (int shift = 60; shift >= 0; shift -= 4)
    name.push_back(kHex[(x >> shift) & 15]);
  return name + kSuffix;
}

}  // namespace

bool isTemporary(const std::string& name) {
  const std::size_t prefix = sizeof kPrefix - 1, suffix = sizeof kSuffix - 1;
  if (name.size() <= prefix + suffix || name.compare(0, prefix, kPrefix) != 0 ||
      name.compare(name.size() - suffix, suffix, kSuffix) != 0)
    return false;
  const std::string middle = name.substr(prefix, name.size() - prefix - suffix);
  const bool random =
      middle.size() == 16 && middle.find_first_not_of("0123456789abcdef") == std::string::npos;
  const std::size_t dash = middle.find('-');
  const bool older = dash != 0 && dash != std::string::npos && dash + 1 < middle.size() &&
                     middle.find_first_not_of("0123456789-") == std::string::npos;
  return random || older;
}

Replacement::~Replacement() {
  discard();
}

#if defined(_WIN32)

void Replacement::discard() noexcept {
  if (handle_ == nullptr) return;
  CloseHandle(handle_);
  handle_ = nullptr;
  DeleteFileW((original_->directory->path() / name_).c_str());
}

bool Replacement::begin(const trees::Entry& original, std::string& error) {
  original_ = &original;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name_ = randomName();
    // No sharing: while it is open no other run can open or delete it.
    const HANDLE handle = CreateFileW((original.directory->path() / name_).c_str(), GENERIC_WRITE,
                                      0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      handle_ = handle;
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  error = trees::lastErrorMessage();
  return false;
}

bool Replacement::write(const void* data, std::size_t size, std::string& error) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD asked = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handle_, bytes, asked, &written, nullptr)) {
      error = trees::lastErrorMessage();
      return false;
    }
    bytes += written;
    size -= written;
  }
  return true;
}

Replacement::Outcome Replacement::commit(const trees::InputFile&, const trees::FileState& read,
                                         std::string& why) {
  if (!FlushFileBuffers(handle_)) {
    why = trees::lastErrorMessage();
    discard();
    return Outcome::Failed;
  }
  CloseHandle(handle_);
  handle_ = nullptr;
  const std::filesystem::path temporary = original_->directory->path() / name_;
  trees::FileState now;
  if (!trees::stateOf(*original_, now, why) || !now.unchangedSince(read)) {
    const bool changed = why.empty();
    if (changed) why = "it changed while it was being converted";
    DeleteFileW(temporary.c_str());
    return changed ? Outcome::LeftAlone : Outcome::Failed;
  }
  // ReplaceFileW keeps the original's attributes, security and streams. It
  // takes full paths with Windows' own separators (a name given as
  // "folder/file" is refused as an invalid directory name).
  std::error_code ignored;
  const std::filesystem::path target =
      std::filesystem::absolute(original_->path, ignored).make_preferred();
  const std::filesystem::path replacement =
      std::filesystem::absolute(temporary, ignored).make_preferred();
  if (!ReplaceFileW(target.c_str(), replacement.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                    nullptr, nullptr)) {
    why = trees::lastErrorMessage();
    DeleteFileW(temporary.c_str());
    return Outcome::Failed;
  }
  return Outcome::Replaced;
}

std::string whatCannotBeKept(const trees::Entry&, const trees::FileState&) {
  return "";
}

LeftOver removeLeftOver(const trees::Entry& entry, bool dryRun, std::string& error) {
  // A run going on has it open without sharing: opening it fails.
  const HANDLE handle = CreateFileW(entry.path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_SHARING_VIOLATION) return LeftOver::InUse;
    error = trees::lastErrorMessage();
    return LeftOver::Failed;
  }
  CloseHandle(handle);
  if (dryRun || DeleteFileW(entry.path.c_str())) return LeftOver::Removed;
  error = trees::lastErrorMessage();
  return LeftOver::Failed;
}

#else

namespace {

int directoryOf(const trees::Entry& entry) {
  return entry.directory->descriptor();
}

bool inGroup(gid_t group) {
  if (getegid() == group) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int got = getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}

#if defined(__linux__)

// The names in a list from listxattr(), or false when it cannot be had.
bool attributeNames(int descriptor, std::vector<std::string>& names) {
  names.clear();
  for (;;) {
    const ssize_t size = ::flistxattr(descriptor, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;  // none on this file system
    std::string list(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::flistxattr(descriptor, list.data(), list.size());
    if (got < 0 && errno == ERANGE) continue;  // one was added meanwhile
    if (got < 0) return false;
    for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
      const std::string name = list.c_str() + at;
      at += name.size() + 1;
      if (!name.empty()) names.push_back(name);
    }
    return true;
  }
}

std::string whatAttributeHolds(const std::string& name) {
  if (name.rfind("system.posix_acl_", 0) == 0 || name.rfind("system.nfs4", 0) == 0)
    return "cannot keep its ACL";
  if (name.rfind("security.", 0) == 0) return "cannot keep its security label";
  return "cannot keep its extended attribute " + name;
}

// Every extended attribute of the original on the new file, and no other (a
// folder's default ACL may have given it one). The permission bits are set
// before, so that an ACL copied last sets the group bits from its mask, as
// the original has them.
bool copyAttributes(int from, int to, std::string& why) {
  std::vector<std::string> names, theirs;
  if (!attributeNames(from, names)) {
    why = "cannot read its extended attributes: " + trees::lastErrorMessage();
    return false;
  }
  for (const std::string& name : names) {
    std::string value;
    ssize_t size = 0;
    do {
      size = ::fgetxattr(from, name.c_str(), nullptr, 0);
      if (size < 0) break;
      value.assign(static_cast<std::size_t>(size), '\0');
      size = ::fgetxattr(from, name.c_str(), value.data(), value.size());
    } while (size < 0 && errno == ERANGE);
    if (size < 0 ||
        ::fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(size), 0) != 0) {
      why = whatAttributeHolds(name);
      return false;
    }
  }
  if (!attributeNames(to, theirs)) {
    why = "cannot read its extended attributes: " + trees::lastErrorMessage();
    return false;
  }
  for (const std::string& name : theirs) {
    if (std::find(names.begin(), names.end(), name) == names.end() &&
        ::fremovexattr(to, name.c_str()) != 0) {
      why = whatAttributeHolds(name);
      return false;
    }
  }
  return true;
}

#else

bool copyAttributes(int, int, std::string&) {
  return true;  // the attribute calls differ from system to system
}

#endif

}  // namespace

void Replacement::discard() noexcept {
  if (descriptor_ < 0) return;
  ::close(descriptor_);
  descriptor_ = -1;
  ::unlinkat(directoryOf(*original_), name_.c_str(), 0);
}

bool Replacement::begin(const trees::Entry& original, std::string& error) {
  original_ = &original;
  const int directory = directoryOf(original);
  for (int attempt = 0; attempt < 100; ++attempt) {
    name_ = randomName();
    const int descriptor = ::openat(directory, name_.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
      if (errno == EEXIST) continue;
      break;
    }
    // Locked from here on. Another run that locked it first, taking it for a
    // killed run's, has removed it: then it has no link, and another name is
    // taken.
    struct stat status;
    if (::flock(descriptor, LOCK_EX) != 0 || ::fstat(descriptor, &status) != 0) {
      error = trees::lastErrorMessage();
      ::close(descriptor);
      ::unlinkat(directory, name_.c_str(), 0);
      return false;
    }
    if (status.st_nlink == 0) {
      ::close(descriptor);
      continue;
    }
    descriptor_ = descriptor;
    return true;
  }
  error = trees::lastErrorMessage();
  return false;
}

bool Replacement::write(const void* data, std::size_t size, std::string& error) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(descriptor_, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      error = trees::lastErrorMessage();
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

std::string whatCannotBeKept(const trees::Entry&, const trees::FileState& state) {
  if (geteuid() == 0) return "";
  if (state.owner != geteuid()) return "cannot keep its owner";
  if (!inGroup(static_cast<gid_t>(state.group))) return "cannot keep its group";
  return "";
}

Replacement::Outcome Replacement::commit(const trees::InputFile& original,
                                         const trees::FileState& read, std::string& why) {
  const auto leave = [&](std::string reason) {
    why = std::move(reason);
    discard();
    return Outcome::LeftAlone;
  };
  const auto fail = [&] {
    why = trees::lastErrorMessage();
    discard();
    return Outcome::Failed;
  };
  // The owner and group first: changing them clears set-user-ID and
  // set-group-ID bits. A user who is not root keeps a group only if they are
  // in it.
  const bool root = geteuid() == 0;
  if (root ? ::fchown(descriptor_, read.owner, read.group) != 0
           : ::fchown(descriptor_, static_cast<uid_t>(-1), read.group) != 0) {
    if (!root && errno == EPERM) return leave("cannot keep its group");
    return fail();
  }
  if (::fchmod(descriptor_, static_cast<mode_t>(read.mode)) != 0) return fail();
  std::string lost;
  if (!copyAttributes(original.descriptor(), descriptor_, lost)) return leave(lost);
  struct stat made;
  if (::fstat(descriptor_, &made) != 0) return fail();
  if ((made.st_mode & 07777) != read.mode || made.st_uid != read.owner || made.st_gid != read.group)
    return leave("cannot keep its permissions");
  if (::fsync(descriptor_) != 0) return fail();

  trees::FileState now;
  if (!trees::stateOf(*original_, now, why)) {
    discard();
    return Outcome::Failed;
  }
  if (!now.unchangedSince(read)) return leave("it changed while it was being converted");
  const int directory = directoryOf(*original_);
  if (::renameat(directory, name_.c_str(), directory, original_->name.c_str()) != 0) return fail();
  ::close(descriptor_);
  descriptor_ = -1;
  // The rename is only lasting once the directory is on disk too.
  if (::fsync(directory) != 0) {
    why = "its folder could not be flushed to disk: " + trees::lastErrorMessage();
    return Outcome::Unflushed;
  }
  return Outcome::Replaced;
}

LeftOver removeLeftOver(const trees::Entry& entry, bool dryRun, std::string& error) {
  const int directory = directoryOf(entry);
  const int descriptor =
      ::openat(directory, entry.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    error = trees::lastErrorMessage();
    return LeftOver::Failed;
  }
  struct stat held, named;
  LeftOver result = LeftOver::Removed;
  if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    result = errno == EWOULDBLOCK ? LeftOver::InUse : LeftOver::Failed;
    error = trees::lastErrorMessage();
  } else if (!dryRun) {
    // Locked now: removed only if the name is still this file.
    if (::fstat(descriptor, &held) != 0 ||
        ::fstatat(directory, entry.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        held.st_dev != named.st_dev || held.st_ino != named.st_ino ||
        ::unlinkat(directory, entry.name.c_str(), 0) != 0) {
      result = LeftOver::Failed;
      error = trees::lastErrorMessage();
    }
  }
  ::close(descriptor);
  return result;
}

#endif

}  // namespace convert
