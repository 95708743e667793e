#pragma once

#include <cstdint>

#include "app/input_buffer.hpp"

namespace app {

// Only this much of a file is ever examined.
inline constexpr std::uint32_t kInputLimit = 1u << 20;

struct Input {
  InputBuffer bytes;
  std::uint32_t size = 0;
};

// Reads the first kInputLimit bytes of a file (fewer at its end); throws
// std::runtime_error("Input file is not accessible") when it cannot be opened.
Input loadInput(const char* path);

}  // namespace app
