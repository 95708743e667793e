#include "test_inputs.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace testing_support {

Bytes randomBytes(std::mt19937& random, std::size_t size) {
  Bytes bytes(size);
  for (std::uint8_t& b : bytes)
    b = static_cast<std::uint8_t>(random() & 0xFF);
  return bytes;
}

Bytes biasedBytes(std::mt19937& random, std::size_t size) {
  static const std::uint8_t kTurns[] = {0x80, 0xA0, 0xC0, 0xC1, 0xE0, 0xED, 0xF0, 0xF1, 0xF2,
                                        0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB,
                                        0xFC, 0xFD, 0xFE, 0xFF, 0x40, 0x7F, 0x41, 0xBF, 0x9F};
  Bytes bytes(size);
  for (std::uint8_t& b : bytes) {
    const std::uint32_t roll = random() % 8;
    if (roll < 5)
      b = kTurns[random() % sizeof kTurns];
    else if (roll < 7)
      b = static_cast<std::uint8_t>(0x80 | (random() & 0x3F));  // a continuation
    else
      b = static_cast<std::uint8_t>(random() & 0xFF);
  }
  return bytes;
}

Bytes readExample(const char* name) {
  std::ifstream file(std::string(CODEPAGE_GUESS_EXAMPLES_DIR) + "/" + name, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.empty()) ADD_FAILURE() << "cannot read example " << name;
  return bytes;
}

Bytes readTestSample(const char* name) {
  std::ifstream file(std::string(CODEPAGE_GUESS_TESTS_DIR) + "/samples/" + name, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.empty()) ADD_FAILURE() << "cannot read sample " << name;
  return bytes;
}

Bytes damagedText(const Bytes& text, std::mt19937& random) {
  Bytes bytes;
  for (int copy = 0; copy < 4; ++copy)
    bytes.insert(bytes.end(), text.begin(), text.end());
  for (int hit = 0; hit < 24; ++hit) {
    const std::size_t at = random() % bytes.size();
    if (random() % 2 == 0)
      bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at));
    else
      bytes[at] = static_cast<std::uint8_t>(random() & 0xFF);
  }
  return bytes;
}

std::filesystem::path temporaryPath(const std::string& prefix, const std::string& suffix) {
#if defined(_WIN32)
  const auto process = static_cast<unsigned long>(::_getpid());
#else
  const auto process = static_cast<unsigned long>(::getpid());
#endif
  static unsigned count = 0;
  return std::filesystem::temp_directory_path() /
         (prefix + std::to_string(process) + "_" + std::to_string(++count) + suffix);
}

}  // namespace testing_support
