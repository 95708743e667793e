#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

using Bytes = std::vector<std::uint8_t>;

// Lines of a text file drawn at random (fixed seed) until `size` bytes, cut
// there: the same bytes on every run and every machine.
Bytes textSample(const std::string& path, std::size_t size, std::uint32_t seed);

Bytes randomBytes(std::size_t size, std::uint32_t seed);

}  // namespace bench
