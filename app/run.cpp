#include "app/run.hpp"

#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/command_line.hpp"
#include "app/counting.hpp"
#include "app/input.hpp"
#include "app/report.hpp"
#include "encoding/candidates.hpp"
#include "encoding/conjecture.hpp"

namespace app {
namespace {

std::size_t conjectureOn(const Input& input, const char* path) {
  if (input.size() == 0) throw std::runtime_error(std::string("No bytes read from ") + path);
  return my::conjectureEncoding(my::candidateNames(), input.data(), input.size(), countCharacters);
}

}  // namespace

std::size_t conjectureFile(const char* path, void (*afterLoading)(const char* path)) {
  {
    const Input input = loadInput(path);
    if (afterLoading != nullptr) afterLoading(path);
    const std::size_t verdict = conjectureOn(input, path);
    if (!input.changedWhileMapped()) return verdict;
  }
  // Another program cut the file short while it was being read: the verdict
  // is what reading the file now gives.
  return conjectureOn(readInput(path), path);
}

int runTool(int argc, const char* const* argv) {
  const std::optional<Invocation> invocation = parseArguments(argc, argv);
  if (!invocation) {
    printUsage(argc > 0 ? argv[0] : nullptr);
    return 1;
  }
  try {
    reportVerdict(conjectureFile(invocation->path));
    return 0;
  } catch (const std::exception& error) {
    if (invocation->verbose) std::fprintf(stderr, "error: %s\n", error.what());
    return 1;
  }
}

}  // namespace app
