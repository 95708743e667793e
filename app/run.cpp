#include "app/run.hpp"

#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/command_line.hpp"
#include "app/input.hpp"
#include "app/report.hpp"
#include "encoding/conjecture.hpp"

namespace app {

int runTool(int argc, const char* const* argv) {
  const std::optional<Invocation> invocation = parseArguments(argc, argv);
  if (!invocation) {
    printUsage(argc > 0 ? argv[0] : nullptr);
    return 1;
  }
  try {
    const Input input = loadInput(invocation->path);
    if (input.size == 0)
      throw std::runtime_error(std::string("No bytes read from ") + invocation->path);
    reportVerdict(my::conjectureEncoding(candidateEncodings(), input.bytes.data(), input.size));
    return 0;
  } catch (const std::exception& error) {
    if (invocation->verbose) std::fprintf(stderr, "error: %s\n", error.what());
    return 1;
  }
}

}  // namespace app
