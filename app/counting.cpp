#include "app/counting.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <system_error>
#include <thread>

#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#endif
#if defined(__linux__)
#include <sched.h>
#elif defined(_WIN32)
#include <windows.h>
#endif

namespace app {
namespace {

// Below this a second thread saves less than it costs. Counting runs at about
// 1 GB/s, so each half of 512 KiB takes about a quarter of a millisecond;
// starting a thread in a new process, waking a second processor and joining
// took about a tenth of one, measured on a 2-core virtual machine, where two
// threads on 256 KiB were slower than one.
constexpr std::uint32_t kTwoThreadsFrom = 512u << 10;

// How far past the middle an idle place is looked for: text has a line end or
// a space every few dozen bytes, random bytes an ASCII byte in every two.
constexpr std::uint32_t kSplitWithin = 64u << 10;

// The helper's stack: the kernels keep their tables there (about 20 KiB).
constexpr std::size_t kHelperStack = 512u << 10;

// Whether the process may run on two processors at once: not when its
// affinity holds it to one, as `taskset` and job schedulers do.
bool mayRunOnTwoProcessors() noexcept {
#if defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set) > 1;
#elif defined(_WIN32)
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) != 0)
    return (process & (process - 1)) != 0;
#endif
  return std::thread::hardware_concurrency() > 1;
}

// Runs `work` on a thread of its own while the caller does `meanwhile`, or
// both on the caller's thread if no thread can be started.
//
// Where there are POSIX threads the thread gets a small stack and allocates
// nothing: the first allocation or release of memory on a new thread costs
// the C library a memory arena of its own (four system calls), which
// std::thread's release of its state on the thread would ask for.
template <typename Work, typename Meanwhile>
void runBeside(Work& work, Meanwhile meanwhile) noexcept {
#if defined(__unix__) || defined(__APPLE__)
  pthread_attr_t attributes;
  pthread_t thread;
  bool started = false;
  if (pthread_attr_init(&attributes) == 0) {
    pthread_attr_setstacksize(&attributes, kHelperStack);
    started = pthread_create(
                  &thread, &attributes,
                  [](void* w) -> void* {
                    (*static_cast<Work*>(w))();
                    return nullptr;
                  },
                  &work) == 0;
    pthread_attr_destroy(&attributes);
  }
  meanwhile();
  if (started) {
    pthread_join(thread, nullptr);
  } else {
    work();
  }
#else
  std::optional<std::thread> helper;
  try {
    helper.emplace(std::ref(work));
  } catch (const std::system_error&) {  // no thread to be had
  }
  meanwhile();
  if (helper) {
    helper->join();
  } else {
    work();
  }
#endif
}

}  // namespace

void countCharactersSplitAt(const std::uint8_t* data, std::uint32_t length, std::uint32_t split,
                            my::CharacterCounts& counts) noexcept {
  const my::Kernels& kernels = my::selectedKernels();
  my::CharacterCounts rest;
  auto countRest = [&] { kernels.countCharacters(data + split, length - split, rest); };
  runBeside(countRest, [&] { kernels.countCharacters(data, split, counts); });
  counts += rest;
}

void countCharacters(const std::uint8_t* data, std::uint32_t length,
                     my::CharacterCounts& counts) noexcept {
  const std::uint32_t split = length >= kTwoThreadsFrom
                                  ? my::idleCountersAfter(data, length, length / 2, kSplitWithin)
                                  : length;
  if (split < length && mayRunOnTwoProcessors()) {
    countCharactersSplitAt(data, length, split, counts);
  } else {
    my::selectedKernels().countCharacters(data, length, counts);
  }
}

}  // namespace app
