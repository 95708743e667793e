#include "app/report.hpp"

#include <cstdio>
#include <stdexcept>

#include "encoding/candidates.hpp"

namespace app {

void reportVerdict(std::size_t verdict) {
  if (verdict >= my::kCandidates.size()) return;
  // A full disk or a closed stdout must not look like "undecided" to the editor.
  const bool written = std::printf("code.page=%d\n", my::kCandidates[verdict].codePage) >= 0;
  if (std::fflush(stdout) != 0 || !written) {
    throw std::runtime_error("Standard output is not writable");
  }
}

}  // namespace app
