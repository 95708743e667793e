// Decoding to UTF-8: the library's decoders beside glibc's iconv and ICU's
// converters, on the same bytes in the same run. Inputs of 1 MiB each:
// Japanese prose, source code with Japanese comments, and half-width
// katakana, in Shift_JIS (as code page 932), and the prose in EUC-JP.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <unicode/ucnv.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_inputs.hpp"
#include "codepage_guess.h"

namespace {

using bench::Bytes;

constexpr std::size_t kMiB = 1 << 20;

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// UTF-8 to another encoding with iconv, for making the inputs.
Bytes encoded(const std::string& text, const char* encoding) {
  const iconv_t cd = iconv_open(encoding, "UTF-8");
  if (cd == iconv_t(-1)) throw std::runtime_error(std::string("no iconv for ") + encoding);
  Bytes out(text.size() * 2 + 16);
  std::string in = text;
  char* from = in.data();
  char* to = reinterpret_cast<char*>(out.data());
  std::size_t left = in.size(), room = out.size();
  const std::size_t done = iconv(cd, &from, &left, &to, &room);
  iconv_close(cd);
  if (done == static_cast<std::size_t>(-1)) throw std::runtime_error("cannot encode the sample");
  out.resize(out.size() - room);
  return out;
}

bool encodable(const std::string& text, const char* encoding) {
  try {
    encoded(text, encoding);
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

// Lines of `text` drawn at random until `size` bytes, cut at a line's end;
// only those EUC-JP has too, so the samples in both say the same.
std::string drawLines(const std::string& text, std::size_t size, std::uint32_t seed) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(at, end - at);
    if (line.size() > 1 && encodable(line, "EUC-JP")) lines.push_back(line);
    at = end;
  }
  std::mt19937 random(seed);
  std::string out;
  while (out.size() < size)
    out += lines[random() % lines.size()];
  return out;
}

// Cut at the last line's end within `size`, so no character is split.
Bytes cut(Bytes bytes, std::size_t size) {
  if (bytes.size() <= size) return bytes;
  std::size_t end = size;
  while (end > 0 && bytes[end - 1] != '\n')
    --end;
  bytes.resize(end);
  return bytes;
}

struct Inputs {
  Bytes prose, technical, code, katakana, proseEUCJP;

  Inputs() {
    // The library's Japanese sample, as every benchmark here has it.
    prose = cut(
        bench::textSample(CODEPAGE_GUESS_SOURCE_DIR "/examples/japanese_sjis.txt", kMiB + 4096, 1),
        kMiB);
    const Bytes utf8 =
        cut(bench::textSample(CODEPAGE_GUESS_SOURCE_DIR "/examples/japanese_utf8.txt",
                              kMiB + kMiB / 2, 1),
            kMiB + kMiB / 4);
    proseEUCJP = cut(encoded(std::string(utf8.begin(), utf8.end()), "EUC-JP"), kMiB);
    // Prose about computers, with Latin words, numbers and symbols among it.
    const std::string japanese = readFile(CODEPAGE_GUESS_SOURCE_DIR "/tests/trees/japanese.txt");
    technical = cut(encoded(drawLines(japanese, kMiB + kMiB / 2, 1), "CP932"), kMiB);

    // This project's own C++, a comment of Japanese every fourth line or so.
    std::string source;
    for (const char* file : {"/encoding/classifier.cpp", "/encoding/describe.cpp",
                             "/trees/walk.cpp", "/convert/main.cpp"})
      source += readFile(std::string(CODEPAGE_GUESS_SOURCE_DIR) + file);
    std::string withComments;
    std::mt19937 random(2);
    const std::string sentences = drawLines(japanese, kMiB, 3);
    std::size_t sentence = 0;
    while (withComments.size() < kMiB + kMiB / 2) {
      for (std::size_t at = 0; at < source.size() && withComments.size() < kMiB + kMiB / 2;) {
        std::size_t end = source.find('\n', at);
        end = end == std::string::npos ? source.size() : end + 1;
        withComments.append(source, at, end - at);
        at = end;
        if (random() % 4 == 0) {
          // A phrase of 10 to 30 characters of the prose, as a comment.
          const std::size_t length = 30 + random() % 60;
          std::size_t from = sentences.find('\n', sentence) + 1;
          if (from == 0 || from + length > sentences.size()) from = 0;
          std::size_t to = from + length;
          while (to < sentences.size() &&
                 (static_cast<unsigned char>(sentences[to]) & 0xC0) == 0x80)
            ++to;
          std::string phrase = sentences.substr(from, to - from);
          for (char& c : phrase) {
            if (c == '\n') c = ' ';
          }
          withComments += "  // " + phrase + "\n";
          sentence = to;
        }
      }
    }
    code = cut(encoded(withComments, "CP932"), kMiB);

    // Words of half-width katakana with numbers, as old business data holds them.
    katakana = cut(bench::halfWidthKatakana(kMiB, random), kMiB);
  }
};

const Inputs& inputs() {
  static const Inputs made;
  return made;
}

void setThroughput(benchmark::State& state, const Bytes& bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes.size()));
}

// Output room: three bytes of UTF-8 for every byte in, the most any of these
// encodings needs (a half-width katakana).
std::vector<char>& output() {
  static std::vector<char> room(3 * kMiB + 64);
  return room;
}

void ours(benchmark::State& state, int kind, const Bytes* bytes) {
  cpg_decoder* decoder = cpg_decoder_new(kind, 0);
  std::vector<char>& out = output();
  std::size_t written = 0;
  for (auto _ : state) {
    cpg_decoder_reset(decoder);
    std::size_t read = 0;
    if (cpg_decode(decoder, bytes->data(), bytes->size(), out.data(), out.size(), 1, &read,
                   &written) != CPG_DECODE_INPUT_EMPTY)
      state.SkipWithError("malformed input");
    benchmark::DoNotOptimize(out.data());
  }
  cpg_decoder_free(decoder);
  state.counters["utf8_bytes"] = static_cast<double>(written);
  setThroughput(state, *bytes);
}

// The same in pieces of 64 KiB, as a program reading a file decodes it.
void oursInPieces(benchmark::State& state, int kind, const Bytes* bytes) {
  cpg_decoder* decoder = cpg_decoder_new(kind, 0);
  std::vector<char>& out = output();
  constexpr std::size_t kPiece = 64 * 1024;
  for (auto _ : state) {
    cpg_decoder_reset(decoder);
    for (std::size_t at = 0; at < bytes->size();) {
      const std::size_t size = std::min(kPiece, bytes->size() - at);
      std::size_t read = 0, written = 0;
      cpg_decode(decoder, bytes->data() + at, size, out.data(), out.size(),
                 at + size == bytes->size(), &read, &written);
      at += read;
      benchmark::DoNotOptimize(out.data());
    }
  }
  cpg_decoder_free(decoder);
  setThroughput(state, *bytes);
}

void glibc(benchmark::State& state, const char* encoding, const Bytes* bytes) {
  const iconv_t cd = iconv_open("UTF-8", encoding);
  if (cd == iconv_t(-1)) {
    state.SkipWithError("no iconv for this encoding");
    return;
  }
  std::vector<char>& out = output();
  for (auto _ : state) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* from = reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes->data()));
    char* to = out.data();
    std::size_t left = bytes->size(), room = out.size();
    if (iconv(cd, &from, &left, &to, &room) == static_cast<std::size_t>(-1))
      state.SkipWithError("iconv failed");
    benchmark::DoNotOptimize(out.data());
  }
  iconv_close(cd);
  setThroughput(state, *bytes);
}

// ICU straight to UTF-8, its fastest way from a legacy encoding.
void icu(benchmark::State& state, const char* encoding, const Bytes* bytes) {
  UErrorCode error = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(encoding, &error);
  if (U_FAILURE(error)) {
    state.SkipWithError("no ICU converter for this encoding");
    return;
  }
  std::vector<char>& out = output();
  for (auto _ : state) {
    error = U_ZERO_ERROR;
    ucnv_resetToUnicode(converter);
    const std::int32_t n =
        ucnv_toAlgorithmic(UCNV_UTF8, converter, out.data(), static_cast<std::int32_t>(out.size()),
                           reinterpret_cast<const char*>(bytes->data()),
                           static_cast<std::int32_t>(bytes->size()), &error);
    if (U_FAILURE(error)) state.SkipWithError("ICU failed");
    benchmark::DoNotOptimize(n);
  }
  ucnv_close(converter);
  setThroughput(state, *bytes);
}

// Our UTF-8 and glibc's, which must be the same for a timing to mean anything.
std::string ourUTF8(int kind, const Bytes& bytes) {
  cpg_decoder* decoder = cpg_decoder_new(kind, 0);
  std::string out(3 * bytes.size() + 64, '\0');
  std::size_t read = 0, written = 0;
  cpg_decode(decoder, bytes.data(), bytes.size(), out.data(), out.size(), 1, &read, &written);
  cpg_decoder_free(decoder);
  out.resize(written);
  return out;
}

std::string glibcUTF8(const char* encoding, const Bytes& bytes) {
  const iconv_t cd = iconv_open("UTF-8", encoding);
  std::string out(3 * bytes.size() + 64, '\0');
  char* from = reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes.data()));
  char* to = out.data();
  std::size_t left = bytes.size(), room = out.size();
  iconv(cd, &from, &left, &to, &room);
  iconv_close(cd);
  out.resize(out.size() - room);
  return out;
}

void registerAll() {
  const Inputs& in = inputs();
  const struct {
    const char* name;
    const Bytes* bytes;
    int kind;
    const char* iconvName;
    const char* icuName;
  } cases[] = {
      {"sjis_prose", &in.prose, CPG_KIND_SHIFT_JIS, "CP932", "windows-31j"},
      {"sjis_technical", &in.technical, CPG_KIND_SHIFT_JIS, "CP932", "windows-31j"},
      {"sjis_code", &in.code, CPG_KIND_SHIFT_JIS, "CP932", "windows-31j"},
      {"sjis_halfwidth_katakana", &in.katakana, CPG_KIND_SHIFT_JIS, "CP932", "windows-31j"},
      {"eucjp_prose", &in.proseEUCJP, CPG_KIND_EUC_JP, "EUC-JP", "euc-jp-2007"},
  };
  for (const auto& c : cases) {
    if (ourUTF8(c.kind, *c.bytes) != glibcUTF8(c.iconvName, *c.bytes)) {
      std::fprintf(stderr, "decode_bench: our UTF-8 of %s is not glibc's\n", c.name);
      std::exit(1);
    }
    const std::string suffix = std::string("/") + c.name;
    benchmark::RegisterBenchmark(("decode/codepage_guess" + suffix).c_str(), ours, c.kind, c.bytes);
    benchmark::RegisterBenchmark(("decode/codepage_guess_64KiB_pieces" + suffix).c_str(),
                                 oursInPieces, c.kind, c.bytes);
    benchmark::RegisterBenchmark(("decode/glibc_iconv" + suffix).c_str(), glibc, c.iconvName,
                                 c.bytes);
    benchmark::RegisterBenchmark(("decode/icu" + suffix).c_str(), icu, c.icuName, c.bytes);
  }
}

}  // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
