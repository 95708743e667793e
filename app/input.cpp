#include "app/input.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

#if defined(__linux__)
#include <sys/stat.h>
#endif

namespace app {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openForReading(const char* path) {
  File file(std::fopen(path, "rb"));
  if (file == nullptr) throw std::runtime_error("Input file is not accessible");
  return file;
}

int descriptorOf(std::FILE* file) {
#if defined(__linux__)
  return fileno(file);
#else
  (void)file;
  return -1;
#endif
}

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
  const File file = openForReading(path);
  FileMapping mapping(descriptorOf(file.get()), kInputLimit);
  if (mapping.empty()) return Input::readFrom(file.get());
  const auto size = static_cast<std::uint32_t>(mapping.size());
  return Input(std::move(mapping), InputBuffer(), size);
}

Input readInput(const char* path) {
  const File file = openForReading(path);
  return Input::readFrom(file.get());
}

Input Input::readFrom(std::FILE* file) {
  // Left uninitialised: only the bytes the read fills are ever looked at, and
  // untouched pages cost nothing.
  InputBuffer buffer(kInputLimit);
  buffer.expectFill(std::min<std::size_t>(sizeHint(file), kInputLimit));
  // One request: the end of the file and a read error both just end the input.
  const auto size = static_cast<std::uint32_t>(std::fread(buffer.data(), 1, kInputLimit, file));
  return Input(FileMapping(), std::move(buffer), size);
}

}  // namespace app
