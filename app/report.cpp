#include "app/report.hpp"

#include <cstdio>
#include <stdexcept>

#include "encoding/candidates.hpp"

namespace app {

void reportVerdict(std::size_t verdict) {
  if (verdict >= my::kCandidates.size()) return;
  // One line, flushed below: a buffer of our own spares the C library asking
  // the system what standard output is to choose one (two calls of the
  // handful a run makes). glibc's printf writes a line in pieces into a
  // buffer not much longer than it: this one is ample.
  static char line[256];
  std::setvbuf(stdout, line, _IOFBF, sizeof line);
  // A full disk or a closed stdout must not look like "undecided" to the editor.
  const bool written = std::printf("code.page=%d\n", my::kCandidates[verdict].codePage) >= 0;
  if (std::fflush(stdout) != 0 || !written) {
    throw std::runtime_error("Standard output is not writable");
  }
}

}  // namespace app
