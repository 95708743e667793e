#pragma once

#include <optional>

namespace app {

struct Invocation {
  const char* path;
  bool verbose;
};

// "FILE", "-v FILE" or "FILE -v"; anything else is a usage error (nullopt).
std::optional<Invocation> parseArguments(int argc, const char* const* argv);

// Writes the usage text to standard error. programName is argument 0, which a
// process started with an empty argument vector does not have (null).
void printUsage(const char* programName);

}  // namespace app
