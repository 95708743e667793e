#pragma once

#include <cstdint>
#include <cstdio>
#include <utility>

#include "app/file_mapping.hpp"
#include "app/input_buffer.hpp"

namespace app {

// Only this much of a file is ever examined.
inline constexpr std::uint32_t kInputLimit = 1u << 20;

// The first bytes of a file, mapped or read into a buffer.
class Input {
 public:
  const std::uint8_t* data() const noexcept {
    return mapping_.empty() ? buffer_.data() : mapping_.data();
  }
  std::uint32_t size() const noexcept { return size_; }
  // The file was truncated while mapped, and bytes since read may be zeros:
  // whatever was decided from them is void; read the file again.
  bool changedWhileMapped() const noexcept { return mapping_.truncated(); }

 private:
  friend Input loadInput(const char* path);
  friend Input readInput(const char* path);
  static Input readFrom(std::FILE* file);
  Input(FileMapping mapping, InputBuffer buffer, std::uint32_t size) noexcept
      : mapping_(std::move(mapping)), buffer_(std::move(buffer)), size_(size) {}

  FileMapping mapping_;
  InputBuffer buffer_;
  std::uint32_t size_;
};

// The first kInputLimit bytes of a file (fewer at its end), mapped where the
// system allows it; throws std::runtime_error("Input file is not accessible")
// when it cannot be opened.
Input loadInput(const char* path);

// The same, always with one read into a buffer.
Input readInput(const char* path);

}  // namespace app
