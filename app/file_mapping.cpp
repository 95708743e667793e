#include "app/file_mapping.hpp"

#include <utility>

#if defined(__linux__)
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#endif

namespace app {

#if defined(__linux__)
namespace {

// One mapping at a time: the handler below serves one address range, and a
// second handler installed over it would take the first for "the one before".
std::atomic<bool> gClaimed{false};

// What the bus error handler needs, set before it is installed.
volatile std::uintptr_t gMappedFrom = 0;
volatile std::uintptr_t gMappedTo = 0;
volatile std::uintptr_t gPageSize = 4096;
volatile std::sig_atomic_t gTruncated = 0;
struct sigaction gPreviousAction;

// A signal that is not ours goes where it would have gone without us: to the
// handler before ours, or nowhere if it was ignored; by default the process
// ends, so the default is put back and the signal raised again. A fault
// repeats by itself when the handler returns; a signal that another process
// sent (si_code <= 0) has to be raised anew.
void passOn(int signal, siginfo_t* info, void* context) {
  const struct sigaction& previous = gPreviousAction;
  if (previous.sa_handler == SIG_IGN) return;
  if (previous.sa_handler != SIG_DFL) {
    if ((previous.sa_flags & SA_SIGINFO) != 0)
      previous.sa_sigaction(signal, info, context);
    else
      previous.sa_handler(signal);
    return;
  }
  sigaction(signal, &previous, nullptr);
  if (info->si_code <= 0) raise(signal);
}

// The kernel reports a read past the end of a file that shrank while mapped:
// map a page of zeros in its place and let the read go on.
void onBusError(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  const bool ours = info->si_code > 0 && address >= gMappedFrom && address < gMappedTo;
  if (ours && mmap(reinterpret_cast<void*>(address & ~(gPageSize - 1)), gPageSize, PROT_READ,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
    gTruncated = 1;
  } else {
    passOn(signal, info, context);
  }
  errno = savedErrno;
}

}  // namespace

FileMapping::FileMapping(int descriptor, std::size_t limit) noexcept {
  struct stat status;
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) return;
  if (gClaimed.exchange(true, std::memory_order_acquire)) return;
  const std::size_t size = static_cast<std::size_t>(status.st_size) < limit
                               ? static_cast<std::size_t>(status.st_size)
                               : limit;
  // Populated at once: one call instead of a fault per page.
  void* mapping = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, descriptor, 0);
  if (mapping == MAP_FAILED) {
    gClaimed.store(false, std::memory_order_release);
    return;
  }

  const long pageSize = sysconf(_SC_PAGESIZE);
  gPageSize = pageSize > 0 ? static_cast<std::uintptr_t>(pageSize) : 4096;
  gMappedFrom = reinterpret_cast<std::uintptr_t>(mapping);
  gMappedTo = gMappedFrom + size;
  gTruncated = 0;
  struct sigaction action {};
  action.sa_sigaction = onBusError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  // The handler may run as soon as it is installed: what it passes on must
  // be known before.
  if (sigaction(SIGBUS, nullptr, &gPreviousAction) != 0 ||
      sigaction(SIGBUS, &action, nullptr) != 0) {
    munmap(mapping, size);
    gClaimed.store(false, std::memory_order_release);
    return;
  }
  data_ = static_cast<const std::uint8_t*>(mapping);
  size_ = size;
}

FileMapping::~FileMapping() {
  if (data_ == nullptr) return;
  sigaction(SIGBUS, &gPreviousAction, nullptr);
  gMappedFrom = gMappedTo = 0;
  munmap(const_cast<std::uint8_t*>(data_), size_);
  gClaimed.store(false, std::memory_order_release);
}

bool FileMapping::truncated() const noexcept {
  return data_ != nullptr && gTruncated != 0;
}
#else
// Elsewhere the file is read. On Windows a mapped view would also keep other
// programs from truncating the file, so that an editor's save could fail.
FileMapping::FileMapping(int, std::size_t) noexcept {}
FileMapping::~FileMapping() = default;
bool FileMapping::truncated() const noexcept {
  return false;
}
#endif

FileMapping::FileMapping(FileMapping&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

}  // namespace app
