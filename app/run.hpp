#pragma once

#include <cstddef>

namespace app {

// The verdict on a file's first bytes: an index into my::kCandidates, or its size
// for undecided. Throws std::runtime_error for a file that cannot be opened or
// yields no bytes. `afterLoading` is for tests: it runs between loading the
// file and reading its bytes.
std::size_t conjectureFile(const char* path, void (*afterLoading)(const char* path) = nullptr);

// The whole tool: arguments in, exit status (0 or 1) out.
int runTool(int argc, const char* const* argv);

}  // namespace app
