#include "convert/replacement.hpp"

#include <atomic>
#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace convert {
namespace {

// .codepage-convert-PID-N.tmp: the process that made it can be asked after.
const char kPrefix[] = ".codepage-convert-";
const char kSuffix[] = ".tmp";

unsigned long currentProcess() {
#if defined(_WIN32)
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

std::filesystem::path temporaryBeside(const std::filesystem::path& original) {
  static std::atomic<unsigned long> made{0};
  const std::string name = kPrefix + std::to_string(currentProcess()) + "-" +
                           std::to_string(made.fetch_add(1)) + kSuffix;
  return original.parent_path() / name;
}

bool processIsAlive(unsigned long process) {
#if defined(_WIN32)
  const HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(process));
  if (handle == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
  CloseHandle(handle);
  return running;
#else
  return kill(static_cast<pid_t>(process), 0) == 0 || errno == EPERM;
#endif
}

}  // namespace

namespace {

// The process that made a temporary file of ours, from its name; 0 for a name
// that is not one of ours.
unsigned long maker(const std::filesystem::path& path) {
  const std::filesystem::path filename = path.filename();
  std::string name;
  for (const auto c : filename.native()) {
    if (c < 0x20 || c > 0x7E) return 0;  // ours are plain ASCII
    name.push_back(static_cast<char>(c));
  }
  const std::size_t prefix = sizeof kPrefix - 1, suffix = sizeof kSuffix - 1;
  if (name.size() <= prefix + suffix || name.compare(0, prefix, kPrefix) != 0 ||
      name.compare(name.size() - suffix, suffix, kSuffix) != 0)
    return 0;
  const std::string middle = name.substr(prefix, name.size() - prefix - suffix);
  const std::size_t dash = middle.find('-');
  if (dash == 0 || dash == std::string::npos ||
      middle.find_first_not_of("0123456789-") != std::string::npos)
    return 0;
  return std::strtoul(middle.substr(0, dash).c_str(), nullptr, 10);
}

}  // namespace

bool isTemporary(const std::filesystem::path& path) {
  return maker(path) != 0;
}

bool isLeftOver(const std::filesystem::path& path) {
  const unsigned long process = maker(path);
  return process != 0 && process != currentProcess() && !processIsAlive(process);
}

Replacement::~Replacement() {
  discard();
}

#if defined(_WIN32)

void Replacement::discard() noexcept {
  if (handle_ == nullptr) return;
  CloseHandle(handle_);
  handle_ = nullptr;
  DeleteFileW(temporary_.c_str());
}

bool Replacement::begin(const std::filesystem::path& original, std::string& error) {
  original_ = original;
  temporary_ = temporaryBeside(original);
  const HANDLE handle = CreateFileW(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = trees::lastErrorMessage();
    return false;
  }
  handle_ = handle;
  return true;
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

bool Replacement::commit(const trees::FileState& read, std::string& error) {
  if (!FlushFileBuffers(handle_)) {
    error = trees::lastErrorMessage();
    return false;
  }
  CloseHandle(handle_);
  handle_ = nullptr;
  trees::FileState now;
  if (!trees::stateAt(original_, now, error) || !now.unchangedSince(read)) {
    if (error.empty()) error = "it changed while it was being converted";
    DeleteFileW(temporary_.c_str());
    return false;
  }
  // ReplaceFileW keeps the original's attributes, security and streams.
  if (!ReplaceFileW(original_.c_str(), temporary_.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                    nullptr, nullptr)) {
    error = trees::lastErrorMessage();
    DeleteFileW(temporary_.c_str());
    return false;
  }
  return true;
}

#else

void Replacement::discard() noexcept {
  if (descriptor_ < 0) return;
  ::close(descriptor_);
  descriptor_ = -1;
  ::unlink(temporary_.c_str());
}

bool Replacement::begin(const std::filesystem::path& original, std::string& error) {
  original_ = original;
  temporary_ = temporaryBeside(original);
  descriptor_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (descriptor_ < 0) error = trees::lastErrorMessage();
  return descriptor_ >= 0;
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

bool Replacement::commit(const trees::FileState& read, std::string& error) {
  // The owner first: changing it clears set-user-ID and set-group-ID bits.
  if ((geteuid() == 0 && ::fchown(descriptor_, read.owner, read.group) != 0) ||
      ::fchmod(descriptor_, read.mode) != 0 || ::fsync(descriptor_) != 0) {
    error = trees::lastErrorMessage();
    discard();
    return false;
  }
  trees::FileState now;
  if (!trees::stateAt(original_, now, error) || !now.unchangedSince(read)) {
    if (error.empty()) error = "it changed while it was being converted";
    discard();
    return false;
  }
  if (::rename(temporary_.c_str(), original_.c_str()) != 0) {
    error = trees::lastErrorMessage();
    discard();
    return false;
  }
  ::close(descriptor_);
  descriptor_ = -1;
  // The rename is only lasting once the directory is on disk too.
  const std::filesystem::path directory =
      original_.has_parent_path() ? original_.parent_path() : std::filesystem::path(".");
  const int folder = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return true;
}

#endif

}  // namespace convert
