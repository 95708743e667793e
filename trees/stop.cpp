#include "trees/stop.hpp"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <initializer_list>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace trees {
namespace {

std::atomic<bool> gStop{false};
std::atomic<int> gSignal{0};

}  // namespace

void requestStop(int signal) noexcept {
  int none = 0;
  gSignal.compare_exchange_strong(none, signal);
  gStop = true;
}

bool stopRequested() noexcept {
  return gStop.load(std::memory_order_relaxed);
}

int stopSignal() noexcept {
  return gSignal;
}

#if defined(_WIN32)

void watchForStopSignals() {
  SetConsoleCtrlHandler(
      [](DWORD) -> BOOL {
        requestStop(SIGINT);
        return TRUE;
      },
      TRUE);
}

[[noreturn]] void endBySignal(int signal) {
  std::_Exit(128 + signal);
}

#else

// The handler only stores to lock-free atomics, which a signal handler may.
void watchForStopSignals() {
  static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);
  struct sigaction action = {};
  action.sa_handler = [](int signal) { requestStop(signal); };
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
    sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

[[noreturn]] void endBySignal(int signal) {
  std::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::kill(::getpid(), signal);
  std::_Exit(128 + signal);
}

#endif

}  // namespace trees
