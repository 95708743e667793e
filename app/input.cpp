#include "app/input.hpp"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#if defined(__linux__)
#include <sys/stat.h>
#endif

namespace app {
namespace {

// What the file system says the file holds; 0 when it cannot tell (a pipe, a
// file in /proc, another system). Only ever a hint: the read decides.
std::size_t sizeHint(std::FILE* file) {
#if defined(__linux__)
  struct stat status;
  if (fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0)
    return static_cast<std::size_t>(status.st_size);
#else
  (void)file;
#endif
  return 0;
}

}  // namespace

Input loadInput(const char* path) {
  // Allocated before the open so that an allocation failure is reported as
  // such. Left uninitialised: only the bytes the read fills are ever looked at,
  // and untouched pages cost nothing.
  Input input{InputBuffer(kInputLimit), 0};
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) throw std::runtime_error("Input file is not accessible");
  input.bytes.expectFill(std::min<std::size_t>(sizeHint(file), kInputLimit));
  // One request: the end of the file and a read error both just end the input.
  input.size = static_cast<std::uint32_t>(std::fread(input.bytes.data(), 1, kInputLimit, file));
  std::fclose(file);
  return input;
}

}  // namespace app
