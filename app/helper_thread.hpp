#pragma once

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
#endif

// Runs `work` on a thread of its own while the caller does `meanwhile`, or
// both on the caller's thread if no thread can be started.
//
// Where there are POSIX threads the thread gets a small stack and allocates
// nothing: the first allocation or release of memory on a new thread costs
// the C library a memory arena of its own (four system calls), which
// std::thread's release of its state on the thread would ask for. With glibc
// on Linux it starts on another processor than the caller's, and once running
// may go wherever the caller may: held away from the caller's processor, it
// could not move there when the caller waits for it.
template <typename Work, typename Meanwhile>
void runBeside(Work& work, Meanwhile meanwhile) noexcept {
#if defined(__unix__) || defined(__APPLE__)
  struct Start {
    Work* work;
#if defined(CODEPAGE_GUESS_PLACES_HELPER)
    cpu_set_t allowed;
    bool placed;
#endif
  };
  Start start{};
  start.work = &work;
  pthread_attr_t attributes;
  pthread_t thread;
  bool started = false;
  if (pthread_attr_init(&attributes) == 0) {
    pthread_attr_setstacksize(&attributes, kHelperStack);
#if defined(CODEPAGE_GUESS_PLACES_HELPER)
    cpu_set_t elsewhere;
    start.placed = helperStart(start.allowed, elsewhere) &&
                   pthread_attr_setaffinity_np(&attributes, sizeof elsewhere, &elsewhere) == 0;
#endif
    started = pthread_create(
                  &thread, &attributes,
                  [](void* s) -> void* {
                    Start& begun = *static_cast<Start*>(s);
#if defined(CODEPAGE_GUESS_PLACES_HELPER)
                    if (begun.placed)
                      pthread_setaffinity_np(pthread_self(), sizeof begun.allowed, &begun.allowed);
#endif
                    (*begun.work)();
                    return nullptr;
                  },
                  &start) == 0;
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

}  // namespace app
