#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "trees/in_order.hpp"
#include "trees/report.hpp"
#include "trees/walk.hpp"

namespace trees {

// What codepage-scan and codepage-convert do with the walk's entries: work(entry,
// buffer) on `threads` threads, each with a buffer of `bufferSize` bytes of its
// own, and emit(entry, result) in the walk's order, the progress line (counting
// `bytesSoFar`) cleared before each.
template <typename Result, typename Work, typename Emit>
void forEachEntry(const std::vector<Entry>& entries, unsigned threads, std::size_t bufferSize,
                  Progress& progress, const std::uint64_t& bytesSoFar, Work work, Emit emit) {
  std::vector<std::unique_ptr<std::uint8_t[]>> buffers(threads);
  for (auto& buffer : buffers)
    buffer.reset(new std::uint8_t[bufferSize]);
  std::size_t done = 0;
  runInOrder<Result>(
      entries.size(), threads,
      [&](std::size_t i, unsigned worker) { return work(entries[i], buffers[worker].get()); },
      [&](std::size_t i, Result result) {
        progress.clear();
        emit(entries[i], std::move(result));
        ++done;
      },
      [&] { progress.update(done, entries.size(), bytesSoFar); });
  progress.clear();
}

}  // namespace trees
