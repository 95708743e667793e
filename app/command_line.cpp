#include "app/command_line.hpp"

#include <cstdio>
#include <cstring>

namespace app {
namespace {

bool isVerboseSwitch(const char* argument) {
  return std::strcmp(argument, "-v") == 0;
}

}  // namespace

std::optional<Invocation> parseArguments(int argc, const char* const* argv) {
  // A lone "-v" is a file name; of two "-v", the second is.
  if (argc == 2) return Invocation{argv[1], false};
  if (argc == 3) {
    if (isVerboseSwitch(argv[1])) return Invocation{argv[2], true};
    if (isVerboseSwitch(argv[2])) return Invocation{argv[1], true};
  }
  return std::nullopt;
}

void printUsage(const char* programName) {
  std::fprintf(stderr,
               "%s (-v) [file]\n\nThis program conjectures the text encoding of [file] for "
               "Penwick.\nWithout -v option, no error message is shown.\n",
               programName != nullptr ? programName : "codepage-guess");
}

}  // namespace app
