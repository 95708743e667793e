#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace trees {

// Runs work(i, worker) for i = 0 ... count - 1 on `threads` threads and hands
// each result to emit(i, result) on the calling thread in the order of i,
// each as soon as it and all before it are done: the output is the same
// whatever the number of threads. `worker` (0 ... threads - 1) lets work keep
// a buffer per thread. While it waits, the calling thread calls idle() about
// ten times a second.
template <typename Result, typename Work, typename Emit, typename Idle>
void runInOrder(std::size_t count, unsigned threads, Work work, Emit emit, Idle idle) {
  threads = std::max(1u, static_cast<unsigned>(std::min<std::size_t>(threads, count)));
  if (threads == 1) {
    for (std::size_t i = 0; i < count; ++i) {
      emit(i, work(i, 0u));
      idle();
    }
    return;
  }
  std::vector<std::optional<Result>> results(count);
  std::atomic<std::size_t> next{0};
  std::mutex mutex;
  std::condition_variable done;
  std::vector<std::thread> workers;
  for (unsigned worker = 0; worker < threads; ++worker) {
    workers.emplace_back([&, worker] {
      for (std::size_t i; (i = next.fetch_add(1)) < count;) {
        Result result = work(i, worker);
        const std::lock_guard<std::mutex> lock(mutex);
        results[i] = std::move(result);
        done.notify_one();
      }
    });
  }
  for (std::size_t i = 0; i < count; ++i) {
    std::unique_lock<std::mutex> lock(mutex);
    while (!results[i]) {
      if (!done.wait_for(lock, std::chrono::milliseconds(100),
                         [&] { return results[i].has_value(); })) {
        lock.unlock();
        idle();
        lock.lock();
      }
    }
    Result result = std::move(*results[i]);
    results[i].reset();
    lock.unlock();
    emit(i, std::move(result));
  }
  for (std::thread& worker : workers)
    worker.join();
}

}  // namespace trees
