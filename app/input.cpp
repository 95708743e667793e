#include "app/input.hpp"

#include <cstdio>
#include <stdexcept>

namespace app {

Input loadInput(const char* path) {
  // Allocated before the open so that an allocation failure is reported as
  // such. Left uninitialised: only the bytes the read fills are ever looked at,
  // and untouched pages cost nothing.
  Input input{std::unique_ptr<std::uint8_t[]>(new std::uint8_t[kInputLimit]), 0};
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) throw std::runtime_error("Input file is not accessible");
  // One request: the end of the file and a read error both just end the input.
  input.size = static_cast<std::uint32_t>(std::fread(input.bytes.get(), 1, kInputLimit, file));
  std::fclose(file);
  return input;
}

}  // namespace app
