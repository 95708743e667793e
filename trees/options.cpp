#include "trees/options.hpp"

#include <cstring>

namespace trees {
namespace {

std::string quoted(const std::string& text) {
  return "'" + text + "'";
}

}  // namespace

std::string parseCommandLine(int argc, const char* const* argv, const std::vector<Option>& options,
                             const std::function<void(int id, const std::string& value)>& onOption,
                             const std::function<void(const std::string& operand)>& onOperand) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      onOperand(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (argument[1] == '-') {
      const std::size_t equals = argument.find('=');
      const std::string name =
          argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      const Option* match = nullptr;
      std::string candidates;
      bool ambiguous = false;
      for (const Option& option : options) {
        if (std::strncmp(option.name, name.c_str(), name.size()) != 0) continue;
        if (option.name == name) {  // an exact name beats its prefixes
          match = &option;
          ambiguous = false;
          break;
        }
        ambiguous = ambiguous || match != nullptr;
        if (match == nullptr) match = &option;
        candidates += " '--" + std::string(option.name) + "'";
      }
      if (match == nullptr) return "unrecognized option " + quoted("--" + name);
      if (ambiguous)
        return "option " + quoted("--" + name) + " is ambiguous; possibilities:" + candidates;
      const std::string full = "--" + std::string(match->name);
      if (!match->takesValue) {
        if (equals != std::string::npos)
          return "option " + quoted(full) + " doesn't allow an argument";
        onOption(match->id, "");
      } else if (equals != std::string::npos) {
        onOption(match->id, argument.substr(equals + 1));
      } else if (i + 1 < argc) {
        onOption(match->id, argv[++i]);
      } else {
        return "option " + quoted(full) + " requires an argument";
      }
      continue;
    }
    for (std::size_t k = 1; k < argument.size(); ++k) {
      const char letter = argument[k];
      const Option* match = nullptr;
      for (const Option& option : options) {
        if (option.letter != 0 && option.letter == letter) match = &option;
      }
      if (match == nullptr) return "invalid option -- " + quoted(std::string(1, letter));
      if (!match->takesValue) {
        onOption(match->id, "");
      } else if (k + 1 < argument.size()) {
        onOption(match->id, argument.substr(k + 1));
        break;
      } else if (i + 1 < argc) {
        onOption(match->id, argv[++i]);
        break;
      } else {
        return "option requires an argument -- " + quoted(std::string(1, letter));
      }
    }
  }
  return "";
}

}  // namespace trees
