#include "trees/input_file.hpp"

#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace trees {

std::int64_t InputFile::readFully(std::uint8_t* buffer, std::size_t size, std::string& error,
                                  std::uint64_t expected) {
  std::size_t filled = 0;
  while (filled < size && (expected == 0 || filled < expected)) {
    const std::int64_t got = read(buffer + filled, size - filled, error);
    if (got < 0) return -1;
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(filled);
}

#if defined(_WIN32)

std::string lastErrorMessage() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}

namespace {

void fill(FileState& state, const BY_HANDLE_FILE_INFORMATION& info) {
  state.device = info.dwVolumeSerialNumber;
  state.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  state.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  state.modified =
      static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                info.ftLastWriteTime.dwLowDateTime);
  state.links = info.nNumberOfLinks;
}

HANDLE openExisting(const std::filesystem::path& path, DWORD access, bool followLinks) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING,
                     FILE_FLAG_SEQUENTIAL_SCAN | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                     nullptr);
}

}  // namespace

InputFile::~InputFile() {
  if (handle_ != nullptr) CloseHandle(handle_);
}

InputFile::Opened InputFile::open(const Entry& entry, bool followLinks, FileState& state,
                                  std::string& error) {
  const HANDLE handle = openExisting(entry.path, GENERIC_READ, followLinks);
  if (handle == INVALID_HANDLE_VALUE) {
    error = lastErrorMessage();
    return Opened::Failed;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    const bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    CloseHandle(handle);
    error = link ? "symbolic link, not followed" : "not a regular file";
    return link ? Opened::Link : Opened::NotRegular;
  }
  fill(state, info);
  handle_ = handle;
  return Opened::Yes;
}

bool InputFile::state(FileState& state, std::string& error) const {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle_, &info)) {
    error = lastErrorMessage();
    return false;
  }
  fill(state, info);
  return true;
}

std::int64_t InputFile::read(std::uint8_t* buffer, std::size_t size, std::string& error) {
  DWORD got = 0;
  const DWORD asked = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  if (!ReadFile(handle_, buffer, asked, &got, nullptr)) {
    error = lastErrorMessage();
    return -1;
  }
  return got;
}

bool InputFile::rewind(std::string& error) {
  LARGE_INTEGER start{};
  if (SetFilePointerEx(handle_, start, nullptr, FILE_BEGIN)) return true;
  error = lastErrorMessage();
  return false;
}

bool stateOf(const Entry& entry, FileState& state, std::string& error) {
  const HANDLE handle = openExisting(entry.path, 0, false);
  if (handle == INVALID_HANDLE_VALUE) {
    error = lastErrorMessage();
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(handle, &info);
  if (!known) error = lastErrorMessage();
  CloseHandle(handle);
  if (known) fill(state, info);
  return known;
}

#else

std::string lastErrorMessage() {
  return std::generic_category().message(errno);
}

namespace {

void fill(FileState& state, const struct stat& status) {
  state.device = static_cast<std::uint64_t>(status.st_dev);
  state.inode = static_cast<std::uint64_t>(status.st_ino);
  state.size = static_cast<std::uint64_t>(status.st_size);
  state.modified = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 +
                   static_cast<std::int64_t>(status.st_mtim.tv_nsec);
  state.links = static_cast<std::uint64_t>(status.st_nlink);
  state.mode = static_cast<std::uint32_t>(status.st_mode & 07777);
  state.owner = static_cast<std::uint32_t>(status.st_uid);
  state.group = static_cast<std::uint32_t>(status.st_gid);
}

}  // namespace

InputFile::~InputFile() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

InputFile::Opened InputFile::open(const Entry& entry, bool followLinks, FileState& state,
                                  std::string& error) {
  // O_NONBLOCK: opening a FIFO put here since the walk returns at once; it
  // is taken off before reading.
  const int descriptor =
      ::openat(entry.directory->descriptor(), entry.name.c_str(),
               O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (followLinks ? 0 : O_NOFOLLOW));
  if (descriptor < 0) {
    const bool link = errno == ELOOP && !followLinks;
    error = link ? "symbolic link, not followed" : lastErrorMessage();
    return link ? Opened::Link : Opened::Failed;
  }
  struct stat status;
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(descriptor);
    error = "not a regular file";
    return Opened::NotRegular;
  }
  ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
  fill(state, status);
  descriptor_ = descriptor;
  return Opened::Yes;
}

bool InputFile::state(FileState& state, std::string& error) const {
  struct stat status;
  if (::fstat(descriptor_, &status) != 0) {
    error = lastErrorMessage();
    return false;
  }
  fill(state, status);
  return true;
}

std::int64_t InputFile::read(std::uint8_t* buffer, std::size_t size, std::string& error) {
  for (;;) {
    const ssize_t got = ::read(descriptor_, buffer, size);
    if (got >= 0) return got;
    if (errno != EINTR) {
      error = lastErrorMessage();
      return -1;
    }
  }
}

bool InputFile::rewind(std::string& error) {
  if (::lseek(descriptor_, 0, SEEK_SET) == 0) return true;
  error = lastErrorMessage();
  return false;
}

bool stateOf(const Entry& entry, FileState& state, std::string& error) {
  struct stat status;
  if (::fstatat(entry.directory->descriptor(), entry.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) !=
      0) {
    error = lastErrorMessage();
    return false;
  }
  fill(state, status);
  return true;
}

#endif

}  // namespace trees
