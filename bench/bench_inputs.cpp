#include "bench_inputs.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace bench {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

Bytes readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.empty()) throw std::runtime_error("no text in " + path);
  return bytes;
}

std::vector<Bytes> linesOf(const Bytes& text) {
  std::vector<Bytes> lines;
  Bytes line;
  for (const std::uint8_t b : text) {
    line.push_back(b);
    if (b == '\n') lines.push_back(std::move(line)), line.clear();
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

Bytes textSample(const std::string& path, std::size_t size, std::uint32_t seed) {
  const std::vector<Bytes> lines = linesOf(readFile(path));
  std::mt19937 random(seed);
  Bytes sample;
  while (sample.size() < size) {
    const Bytes& pick = lines[random() % lines.size()];
    sample.insert(sample.end(), pick.begin(), pick.end());
  }
  sample.resize(size);
  return sample;
}

Bytes withPastedLines(Bytes text, const Bytes& other, std::size_t every, std::uint32_t seed) {
  const std::vector<Bytes> lines = linesOf(other);
  std::mt19937 random(seed);
  const std::size_t size = text.size();
  for (std::size_t at = every / 2; at < size; at += every) {
    // Pasted at a line start, as a person would.
    const auto lineStart =
        std::find(text.begin() + static_cast<std::ptrdiff_t>(at), text.end(), '\n');
    if (lineStart == text.end()) break;
    const Bytes& pick = lines[random() % lines.size()];
    text.insert(lineStart + 1, pick.begin(), pick.end());
  }
  text.resize(size);
  return text;
}

Bytes latin1Sample(const std::string& asciiPath, std::size_t size, std::uint32_t seed) {
  Bytes text = textSample(asciiPath, size, seed);
  std::mt19937 random(seed);
  for (std::uint8_t& b : text) {
    if (random() % 12 != 0) continue;
    if (b == 'e')
      b = 0xE9;  // é
    else if (b == 'a')
      b = 0xE0;  // à
    else if (b == 'u')
      b = 0xFC;  // ü
    else if (b == 'o')
      b = 0xF6;  // ö
    else if (b == 'c')
      b = 0xE7;  // ç
  }
  return text;
}

Bytes utf16leOf(const Bytes& utf8) {
  Bytes out{0xFF, 0xFE};
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned b = utf8[i];
    const unsigned length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (i + length > utf8.size()) break;
    unsigned c = length == 1 ? b : b & (0x3Fu >> (length - 1));
    for (unsigned k = 1; k < length; ++k)
      c = c << 6 | (utf8[i + k] & 0x3Fu);
    i += length;
    if (c > 0xFFFF) continue;  // the samples have none beyond the Basic Multilingual Plane
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return out;
}

Bytes randomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (std::uint8_t& b : bytes)
    b = static_cast<std::uint8_t>(random() & 0xFF);
  return bytes;
}

Bytes halfWidthKatakana(std::size_t size, std::mt19937& random) {
  Bytes text;
  while (text.size() < size) {
    for (unsigned word = 0; word < 6; ++word) {
      for (auto n = 3 + random() % 6; n > 0; --n)
        text.push_back(static_cast<std::uint8_t>(0xA6 + random() % (0xDF - 0xA6 + 1)));
      text.push_back(' ');
    }
    for (unsigned n = 0; n < 4; ++n)
      text.push_back(static_cast<std::uint8_t>('0' + random() % 10));
    text.push_back('\n');
  }
  return text;
}

Samples::Samples(const std::string& examplesDir) {
  const Bytes utf8 = textSample(examplesDir + "/japanese_utf8.txt", kMiB, 1);
  const Bytes sjis = textSample(examplesDir + "/japanese_sjis.txt", kMiB, 1);
  std::mt19937 random(2);
  Bytes katakana = halfWidthKatakana(kMiB, random);
  katakana.resize(kMiB);
  inputs = {
      {"japanese_utf8", utf8},
      {"japanese_sjis", sjis},
      {"sjis_with_utf8_lines", withPastedLines(sjis, utf8, 64 * 1024, 2)},
      {"sjis_halfwidth_katakana", katakana},
      {"latin1", latin1Sample(examplesDir + "/ascii.txt", kMiB, 3)},
      {"ascii", textSample(examplesDir + "/ascii.txt", kMiB, 1)},
      {"random", randomBytes(kMiB, 1)},
      {"euc_jp", textSample(examplesDir + "/../tests/samples/japanese_eucjp.txt", kMiB, 1)},
      {"utf16le",
       utf16leOf(textSample(examplesDir + "/japanese_utf8.txt", kMiB / 2 + kMiB / 4, 1))},
      {"iso_2022_jp",
       textSample(examplesDir + "/../tests/samples/japanese_iso2022jp.txt", kMiB, 1)},
  };
}

const Bytes& Samples::operator[](const std::string& name) const {
  for (const auto& [key, bytes] : inputs) {
    if (key == name) return bytes;
  }
  throw std::runtime_error("no sample " + name);
}

void writeSampleFiles(const Samples& samples, const std::string& dir) {
  const auto write = [&](const std::string& name, const Bytes& bytes, std::size_t size) {
    std::ofstream file(dir + "/" + name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    if (!file) throw std::runtime_error("cannot write " + dir + "/" + name);
  };
  const std::pair<const char*, std::size_t> sizes[] = {
      {"4KiB", 4096}, {"64KiB", 65536}, {"256KiB", 262144}, {"1MiB", kMiB}};
  for (const char* encoding : {"utf8", "sjis"}) {
    for (const auto& [label, size] : sizes)
      write(std::string(encoding) + "_" + label, samples[std::string("japanese_") + encoding],
            size);
  }
  write("mixed_1MiB", samples["sjis_with_utf8_lines"], kMiB);
  write("random_1MiB", samples["random"], kMiB);
}

}  // namespace bench
