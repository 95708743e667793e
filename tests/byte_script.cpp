#include "byte_script.hpp"

#include <sstream>
#include <stdexcept>

namespace testing_support {

void play(my::CharDigester& digester, const std::string& script) {
  std::istringstream tokens(script);
  std::vector<std::uint8_t> block;
  auto flush = [&] {
    digester.digest(block.data(), static_cast<std::uint32_t>(block.size()));
    block.clear();
  };
  for (std::string token; tokens >> token;) {
    if (token == "|") {
      flush();
    } else if (token == "!") {
      flush();
      digester.clearPending();
    } else {
      block.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
    }
  }
  flush();
}

std::vector<std::uint8_t> hexBytes(const std::string& hex) {
  std::istringstream tokens(hex);
  std::vector<std::uint8_t> bytes;
  for (std::string token; tokens >> token;) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
  }
  return bytes;
}

std::map<int, std::uint32_t> nonZero(const std::uint32_t* histogram) {
  std::map<int, std::uint32_t> entries;
  for (int b = 0; b < 256; ++b) {
    if (histogram[b] != 0) entries[b] = histogram[b];
  }
  return entries;
}

}  // namespace testing_support
