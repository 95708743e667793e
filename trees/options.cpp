#include "trees/options.hpp"

#include <cstdio>
#include <cstdlib>

#include "trees/report.hpp"
#include "trees/walk.hpp"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace trees {

std::string parseOptions(int argc, char** argv, Options& options,
                         const std::function<bool(const std::string&)>& own) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      options.paths.push_back(pathFromBytes(argument));
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (own(argument)) {
    } else if (argument == "-0" || argument == "--null") {
      options.nulSeparatedInput = true;
    } else if (argument == "--json") {
      options.json = true;
    } else if (argument == "-L" || argument == "--follow") {
      options.followLinks = true;
    } else if (argument == "--summary") {
      options.summary = 1;
    } else if (argument == "--no-summary") {
      options.summary = 0;
    } else if (argument == "-h" || argument == "--help") {
      options.help = true;
    } else if (argument == "--version") {
      options.version = true;
    } else if (argument == "-j" || argument == "--jobs" || argument.rfind("-j", 0) == 0 ||
               argument.rfind("--jobs=", 0) == 0) {
      std::string count;
      if (argument == "-j" || argument == "--jobs") {
        if (++i == argc) return argument + " needs a number";
        count = argv[i];
      } else {
        count = argument.substr(argument[1] == 'j' ? 2 : 7);
      }
      char* end = nullptr;
      const unsigned long jobs = std::strtoul(count.c_str(), &end, 10);
      if (count.empty() || *end != '\0' || jobs == 0 || jobs > 1024)
        return "-j takes a number of threads from 1 to 1024, not '" + count + "'";
      options.jobs = static_cast<unsigned>(jobs);
    } else {
      return "unknown option " + argument;
    }
  }
  return "";
}

std::vector<std::filesystem::path> pathsToWalk(const Options& options) {
  std::vector<std::filesystem::path> paths = options.paths;
  if (options.nulSeparatedInput) {
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    for (std::filesystem::path& path : readNulSeparated(stdin))
      paths.push_back(std::move(path));
  } else if (paths.empty()) {
    paths.emplace_back(".");
  }
  return paths;
}

unsigned threadsToUse(const Options& options) {
  return options.jobs != 0 ? options.jobs : processorsAvailable();
}

bool wantsSummary(const Options& options, bool terminal) {
  return options.summary == 1 || (options.summary == -1 && terminal);
}

}  // namespace trees
