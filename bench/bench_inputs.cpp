#include "bench_inputs.hpp"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace bench {

Bytes textSample(const std::string& path, std::size_t size, std::uint32_t seed) {
  std::ifstream file(path, std::ios::binary);
  const Bytes text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<Bytes> lines;
  Bytes line;
  for (const std::uint8_t b : text) {
    line.push_back(b);
    if (b == '\n') lines.push_back(std::move(line)), line.clear();
  }
  if (!line.empty()) lines.push_back(line);
  if (lines.empty()) throw std::runtime_error("no text in " + path);

  std::mt19937 random(seed);
  Bytes sample;
  while (sample.size() < size) {
    const Bytes& pick = lines[random() % lines.size()];
    sample.insert(sample.end(), pick.begin(), pick.end());
  }
  sample.resize(size);
  return sample;
}

Bytes randomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (std::uint8_t& b : bytes)
    b = static_cast<std::uint8_t>(random() & 0xFF);
  return bytes;
}

}  // namespace bench
