#pragma once

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

// Inputs that tests compare fast code against plain rules on, all made from
// fixed seeds.
namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

Bytes randomBytes(std::mt19937& random, std::size_t size);

// Mostly the values where the rules of either encoding turn, in runs long
// enough to reach the loops' wide steps.
Bytes biasedBytes(std::mt19937& random, std::size_t size);

// A bundled example file (examples/NAME).
Bytes readExample(const char* name);

// A sample file of the tests (tests/samples/NAME).
Bytes readTestSample(const char* name);

// A new name in the system's temporary folder, "PREFIX<process>_<n>SUFFIX":
// ctest runs the tests side by side, each in a process of its own.
std::filesystem::path temporaryPath(const std::string& prefix, const std::string& suffix = "");

// A counter after the plain byte rules, one byte at a time: the reference.
template <typename Counter>
Counter stepEachByte(const Bytes& bytes) {
  Counter counter;
  for (const std::uint8_t b : bytes)
    counter.step(b);
  return counter;
}

// Four copies of real text with a few bytes knocked out or replaced, so that
// well-formed runs are broken at every kind of position.
Bytes damagedText(const Bytes& text, std::mt19937& random);

}  // namespace testing_support
