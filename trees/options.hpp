#pragma once

#include <functional>
#include <string>
#include <vector>

// Command lines read as coreutils' getopt_long reads them, on every system:
// options and operands in any order, "--" ending the options, "-" an operand;
// short options bundled ("-nj2"), their values attached or next ("-j2",
// "-j 2"); long ones as "--jobs 2" or "--jobs=2", abbreviated to any unique
// prefix. A value is taken from the next argument whatever it looks like.
namespace trees {

struct Option {
  const char* name;  // the long name, without "--"
  char letter;       // the short one, or 0
  bool takesValue;
  int id;  // what the caller is told
};

// Calls onOption(id, value) for each option (value "" when it takes none) and
// onOperand(text) for each operand, in order. Returns "" or what is wrong, in
// getopt's words ("unrecognized option '--frob'", "option requires an
// argument -- 'j'"). Stops at the first error.
std::string parseCommandLine(int argc, const char* const* argv, const std::vector<Option>& options,
                             const std::function<void(int id, const std::string& value)>& onOption,
                             const std::function<void(const std::string& operand)>& onOperand);

}  // namespace trees
