#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace bench {

using Bytes = std::vector<std::uint8_t>;

// Lines of a text file drawn at random (fixed seed) until `size` bytes, cut
// there: the same bytes on every run and every machine.
Bytes textSample(const std::string& path, std::size_t size, std::uint32_t seed);

// `text` with one line of `other` pasted in every `every` bytes.
Bytes withPastedLines(Bytes text, const Bytes& other, std::size_t every, std::uint32_t seed);

// English text with some letters replaced by ISO 8859-1 accented ones.
Bytes latin1Sample(const std::string& asciiPath, std::size_t size, std::uint32_t seed);

Bytes randomBytes(std::size_t size, std::uint32_t seed);

// Lines of words of half-width katakana and a number, in Shift_JIS, as old
// business data holds them: at least `size` bytes, whole lines.
Bytes halfWidthKatakana(std::size_t size, std::mt19937& random);

// UTF-8 as UTF-16LE with its byte order mark.
Bytes utf16leOf(const Bytes& utf8);

// The inputs the benchmarks and the whole-process script share.
struct Samples {
  explicit Samples(const std::string& examplesDir);
  std::vector<std::pair<std::string, Bytes>> inputs;  // name, bytes (1 MiB each)
  const Bytes& operator[](const std::string& name) const;
};

// Writes Japanese UTF-8 and Shift_JIS of 4 KiB to 1 MiB and the other
// 1 MiB inputs as files into `dir`, for whole-process timings.
void writeSampleFiles(const Samples& samples, const std::string& dir);

}  // namespace bench
