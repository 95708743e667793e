#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <system_error>
#include <thread>

#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#endif
#if defined(__linux__) && defined(__GLIBC__)
#include <sched.h>
#define CODEPAGE_GUESS_PLACES_HELPER 1
#endif

namespace app {

// The helper's stack: the kernels keep their tables there (about 20 KiB).
inline constexpr std::size_t kHelperStack = 512u << 10;

#if defined(CODEPAGE_GUESS_PLACES_HELPER)
// Where a helper starts: on the processors the caller may run on, less the
// one it runs on now. Left to itself, Linux queued a new thread on its
// creator's processor (seen on a 2-core virtual machine, most runs of a day),
// where it waited until the caller had counted everything, the other
// processor idle meanwhile. False when there is no other processor to start
// on.
inline bool helperStart(cpu_set_t& allowed, cpu_set_t& start) noexcept {
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return false;
  const int cpu = sched_getcpu();
  if (cpu < 0 || cpu >= CPU_SETSIZE || CPU_COUNT(&allowed) < 2) return false;
  const auto here = static_cast<std::size_t>(cpu);
  if (!CPU_ISSET(here, &allowed)) return false;
  start = allowed;
  CPU_CLR(here, &start);
  return true;
}

// How long a caller with nothing left to do waits for a helper that should
// be finishing its last piece of work (about 64 us of counting) before it
// takes the helper to its own processor.
inline constexpr std::chrono::microseconds kHelperGrace{100};

// Waits a little for the helper to finish; if it has not, moves it to the
// caller's processor, which is about to be idle. A helper that another
// program has taken the processor from would otherwise wait for that
// program's turn to end (3 to 5 ms here), the caller waiting on it: Linux
// does not move a thread that ran a moment ago to an idle processor.
inline void bringBackIfLate(pthread_t helper, const std::atomic<bool>& finished) noexcept {
  const auto until = std::chrono::steady_clock::now() + kHelperGrace;
  while (!finished.load(std::memory_order_acquire)) {
    if (std::chrono::steady_clock::now() < until) continue;
    const int cpu = sched_getcpu();
    if (cpu < 0 || cpu >= CPU_SETSIZE) return;
    cpu_set_t here;
    CPU_ZERO(&here);
    CPU_SET(static_cast<std::size_t>(cpu), &here);
    pthread_setaffinity_np(helper, sizeof here, &here);
    return;
  }
}
#endif

// Runs `work` on a thread of its own while the caller does `meanwhile`, or
// both on the caller's thread if no thread can be started.
//
// Where there are POSIX threads the thread gets a small stack and allocates
// nothing: the first allocation or release of memory on a new thread costs
// the C library a memory arena of its own (four system calls), which
// std::thread's release of its state on the thread would ask for. With glibc
// on Linux it starts on another processor than the caller's, and once queued
// there may go wherever the caller may; one still at work a little after the
// caller is done is brought to the caller's processor.
template <typename Work, typename Meanwhile>
void runBeside(Work& work, Meanwhile meanwhile) noexcept {
#if defined(__unix__) || defined(__APPLE__)
  struct Start {
    Work* work;
    std::atomic<bool> finished;
  };
  Start start{};
  start.work = &work;
  pthread_attr_t attributes;
  pthread_t thread;
  bool started = false;
  bool placed = false;
  if (pthread_attr_init(&attributes) == 0) {
    pthread_attr_setstacksize(&attributes, kHelperStack);
#if defined(CODEPAGE_GUESS_PLACES_HELPER)
    cpu_set_t allowed, elsewhere;
    placed = helperStart(allowed, elsewhere) &&
             pthread_attr_setaffinity_np(&attributes, sizeof elsewhere, &elsewhere) == 0;
#endif
    started = pthread_create(
                  &thread, &attributes,
                  [](void* s) -> void* {
                    Start& begun = *static_cast<Start*>(s);
                    (*begun.work)();
                    begun.finished.store(true, std::memory_order_release);
                    return nullptr;
                  },
                  &start) == 0;
    pthread_attr_destroy(&attributes);
#if defined(CODEPAGE_GUESS_PLACES_HELPER)
    // Queued where it was placed, the helper stays there while that
    // processor is allowed; the caller alone changes where it may run, so
    // that this cannot undo a move back below.
    placed = started && placed && pthread_setaffinity_np(thread, sizeof allowed, &allowed) == 0;
#endif
  }
  meanwhile();
  if (started) {
#if defined(CODEPAGE_GUESS_PLACES_HELPER)
    if (placed) bringBackIfLate(thread, start.finished);
#endif
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

}  // namespace app
