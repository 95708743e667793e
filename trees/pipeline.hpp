#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "trees/stop.hpp"
#include "trees/walk.hpp"

namespace trees {

// Runs work(entry, worker) on each entry the walk gives, on up to `threads`
// threads, and hands each result to emit(entry, result) on the calling thread
// in the walk's order, each as soon as it and all before it are done: the
// output is the same whatever the number of threads, and the first line is
// out while the walk goes on. `worker` (0 ... threads - 1) lets work keep a
// buffer per thread. failed(entry, what) makes the result of a work that
// threw. While it waits, the calling thread calls idle() about ten times a
// second.
//
// The walk runs on the calling thread and waits while kInFlight entries are
// not yet emitted, so memory is bounded by that and the walk's depth. Workers
// start as entries wait for them, no more than there are entries. When a stop
// is asked for, the walk stops, entries not yet taken are dropped, and the
// results of those being worked on are still emitted.
template <typename Result, typename Work, typename Emit, typename Failed, typename Idle>
void forEachEntry(const std::function<void(const std::function<bool(Entry&&)>&)>& walk,
                  unsigned threads, Work work, Emit emit, Failed failed, Idle idle) {
  const auto attempt = [&](const Entry& entry, unsigned worker) -> Result {
    try {
      return work(entry, worker);
    } catch (const std::exception& error) {
      return failed(entry, error.what());
    }
  };
  if (threads <= 1) {
    walk([&](Entry&& entry) {
      if (stopRequested()) return false;
      emit(entry, attempt(entry, 0));
      idle();
      return !stopRequested();
    });
    return;
  }

  constexpr std::size_t kInFlight = 4096;
  struct Item {
    Entry entry;
    std::optional<Result> result;
  };
  std::mutex mutex;
  std::condition_variable forWorkers, forHead;
  std::deque<Item> items;  // not yet emitted, in the walk's order
  std::size_t taken = 0;   // of those, the ones a worker has taken
  std::size_t idleWorkers = 0;
  bool walked = false;
  std::vector<std::thread> workers;

  const auto workOn = [&](unsigned worker) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      ++idleWorkers;
      forWorkers.wait(lock, [&] { return taken < items.size() || walked || stopRequested(); });
      --idleWorkers;
      if (taken == items.size() || stopRequested()) return;
      Item& item = items[taken++];
      lock.unlock();
      Result result = attempt(item.entry, worker);
      lock.lock();
      item.result = std::move(result);
      // The emitter only ever waits for the first item.
      if (&item == &items.front()) forHead.notify_one();
    }
  };
  // Emits what is done at the front; the lock is let go while emitting.
  const auto emitReady = [&](std::unique_lock<std::mutex>& lock) {
    while (!items.empty() && items.front().result) {
      Item item = std::move(items.front());
      items.pop_front();
      --taken;
      lock.unlock();
      emit(item.entry, std::move(*item.result));
      lock.lock();
    }
  };
  const auto waitForHead = [&](std::unique_lock<std::mutex>& lock) {
    if (!forHead.wait_for(lock, std::chrono::milliseconds(100),
                          [&] { return items.front().result.has_value(); })) {
      lock.unlock();
      idle();
      lock.lock();
    }
  };

  // Whatever goes wrong here, the workers are stopped and waited for before
  // the exception goes on: a thread left running would end the process.
  const auto joinWorkers = [&] {
    for (std::thread& worker : workers)
      if (worker.joinable()) worker.join();
  };
  try {
    walk([&](Entry&& entry) {
      std::unique_lock<std::mutex> lock(mutex);
      emitReady(lock);
      while (items.size() >= kInFlight && !stopRequested()) {
        waitForHead(lock);
        emitReady(lock);
      }
      if (stopRequested()) return false;
      items.push_back(Item{std::move(entry), std::nullopt});
      if (idleWorkers == 0 && workers.size() < threads) {
        try {
          workers.emplace_back(workOn, static_cast<unsigned>(workers.size()));
        } catch (const std::system_error&) {
          // No more threads to be had: those there are do the work, and if
          // there are none, this one does.
          if (workers.empty()) {
            Item& item = items[taken++];
            lock.unlock();
            Result result = attempt(item.entry, 0);
            lock.lock();
            item.result = std::move(result);
          }
        }
      }
      forWorkers.notify_one();
      return true;
    });

    std::unique_lock<std::mutex> lock(mutex);
    walked = true;
    forWorkers.notify_all();
    for (;;) {
      emitReady(lock);
      if (items.empty()) break;
      if (workers.empty() && taken < items.size()) {
        Item& item = items[taken++];
        lock.unlock();
        Result result = attempt(item.entry, 0);
        lock.lock();
        item.result = std::move(result);
        continue;
      }
      if (stopRequested()) {
        // Entries no worker took are dropped; the rest are waited for.
        while (items.size() > taken)
          items.pop_back();
        forWorkers.notify_all();
        if (items.empty()) break;
      }
      waitForHead(lock);
    }
  } catch (...) {
    requestStop(0);
    {
      const std::lock_guard<std::mutex> lock(mutex);
      walked = true;
    }
    forWorkers.notify_all();
    joinWorkers();
    throw;
  }
  joinWorkers();
}

}  // namespace trees
