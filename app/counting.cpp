#include "app/counting.hpp"

#include <atomic>
#include <cstddef>
#include <thread>

#include "app/helper_thread.hpp"

#if defined(__linux__)
#include <sched.h>
#elif defined(_WIN32)
#include <windows.h>
#endif

namespace app {
namespace {

// Below this a second thread saves less than it may cost. Counting runs at
// about 1 GB/s, so 512 KiB takes about half a millisecond on one thread. On a
// 2-core virtual machine, with the helper started on the other processor,
// two threads were 8 to 10% faster than one on 256 and 384 KiB (whole
// process, medians); but with another program busy on that processor, one run
// in a hundred on 256 KiB took 6 ms, against 1.7 on one thread, the helper
// waiting for its turn.
constexpr std::uint32_t kTwoThreadsFrom = 512u << 10;

// The pieces the two threads take in turn: long enough that each call's fixed
// cost (about a microsecond) is small beside it, short enough that the thread
// that takes the last piece keeps the other waiting little.
constexpr std::uint32_t kPieceLength = 64u << 10;

// How far past a piece's length its end, an idle place, is looked for: text
// has a line end or a space every few dozen bytes, random bytes an ASCII byte
// in every two. Bytes with none make one long piece.
constexpr std::uint32_t kSplitWithin = 64u << 10;

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

// A long input cut into pieces, each ending at an idle place, handed out to
// whichever thread asks next: a helper that starts late, or never, takes
// fewer, and the caller waits for the helper no longer than the piece it is
// counting takes, or than the helper takes to start if it has not.
class Pieces {
 public:
  Pieces(const std::uint8_t* data, std::uint32_t length, std::uint32_t pieceLength) noexcept
      : data_(data), length_(length), pieceLength_(pieceLength) {}

  // Counts pieces into `counts` (which it empties first) until none is left.
  void count(my::CharacterCounts& counts) noexcept {
    counts = my::CharacterCounts{};
    const my::Kernels& kernels = my::selectedKernels();
    my::CharacterCounts piece;
    std::uint32_t from = 0, to = 0;
    while (take(from, to)) {
      kernels.countCharacters(data_ + from, to - from, piece);
      counts += piece;
    }
  }

 private:
  // The next piece, [from, to); false when none is left.
  bool take(std::uint32_t& from, std::uint32_t& to) noexcept {
    from = next_.load(std::memory_order_relaxed);
    do {
      if (from == length_) return false;
      to = length_ - from > pieceLength_
               ? my::idleCountersAfter(data_, length_, from + pieceLength_, kSplitWithin)
               : length_;
    } while (!next_.compare_exchange_weak(from, to, std::memory_order_relaxed));
    return true;
  }

  const std::uint8_t* const data_;
  const std::uint32_t length_, pieceLength_;
  std::atomic<std::uint32_t> next_{0};  // where the next piece starts
};

}  // namespace

void countCharactersInPieces(const std::uint8_t* data, std::uint32_t length,
                             std::uint32_t pieceLength, my::CharacterCounts& counts) noexcept {
  Pieces pieces(data, length, pieceLength);
  my::CharacterCounts helpers;
  auto help = [&] { pieces.count(helpers); };
  runBeside(help, [&] { pieces.count(counts); });
  counts += helpers;  // the helper has been joined
}

void countCharacters(const std::uint8_t* data, std::uint32_t length,
                     my::CharacterCounts& counts) noexcept {
  if (length >= kTwoThreadsFrom && mayRunOnTwoProcessors()) {
    countCharactersInPieces(data, length, kPieceLength, counts);
  } else {
    my::selectedKernels().countCharacters(data, length, counts);
  }
}

}  // namespace app
