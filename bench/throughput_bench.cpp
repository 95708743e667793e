#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "bench_inputs.hpp"
#include "encoding/char_digester.hpp"
#include "encoding/conjecture.hpp"

// Throughput of each counter and of the whole conjecture on 1 MiB inputs,
// beside a plain histogram loop over the same bytes as the reference.
namespace {

constexpr std::size_t kSize = std::size_t{1} << 20;

enum class Input { JapaneseUTF8, JapaneseSJIS, Ascii, Random };

const bench::Bytes& input(Input which) {
  static const std::string examples = CODEPAGE_GUESS_EXAMPLES_DIR;
  static const bench::Bytes utf8 = bench::textSample(examples + "/japanese_utf8.txt", kSize, 1);
  static const bench::Bytes sjis = bench::textSample(examples + "/japanese_sjis.txt", kSize, 1);
  static const bench::Bytes ascii = bench::textSample(examples + "/ascii.txt", kSize, 1);
  static const bench::Bytes random = bench::randomBytes(kSize, 1);
  switch (which) {
    case Input::JapaneseUTF8:
      return utf8;
    case Input::JapaneseSJIS:
      return sjis;
    case Input::Ascii:
      return ascii;
    default:
      return random;
  }
}

void setThroughput(benchmark::State& state, const bench::Bytes& bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes.size()));
}

void plainHistogram(benchmark::State& state, Input which) {
  const bench::Bytes& bytes = input(which);
  for (auto _ : state) {
    std::uint32_t counts[256] = {};
    for (const std::uint8_t b : bytes)
      ++counts[b];
    benchmark::DoNotOptimize(counts);
    benchmark::ClobberMemory();
  }
  setThroughput(state, bytes);
}

void counter(benchmark::State& state, const char* encoding, Input which) {
  const bench::Bytes& bytes = input(which);
  for (auto _ : state) {
    const auto digester = my::createDigester(encoding);
    digester->digest(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    benchmark::DoNotOptimize(digester->errorCount());
    benchmark::DoNotOptimize(digester->histogram()[0x82]);
  }
  setThroughput(state, bytes);
}

void conjecture(benchmark::State& state, Input which) {
  const bench::Bytes& bytes = input(which);
  const std::array<const char*, 2> candidates = {"utf8", "sjis"};
  for (auto _ : state)
    benchmark::DoNotOptimize(
        my::conjectureEncoding(candidates, bytes.data(), static_cast<std::uint32_t>(bytes.size())));
  setThroughput(state, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  const std::pair<const char*, Input> inputs[] = {{"japanese_utf8", Input::JapaneseUTF8},
                                                  {"japanese_sjis", Input::JapaneseSJIS},
                                                  {"ascii", Input::Ascii},
                                                  {"random", Input::Random}};
  for (const auto& [name, which] : inputs) {
    const std::string suffix = std::string("/") + name;
    benchmark::RegisterBenchmark(("plain_histogram" + suffix).c_str(), plainHistogram, which);
    benchmark::RegisterBenchmark(("counter_utf8" + suffix).c_str(), counter, "utf8", which);
    benchmark::RegisterBenchmark(("counter_sjis" + suffix).c_str(), counter, "sjis", which);
    benchmark::RegisterBenchmark(("conjecture" + suffix).c_str(), conjecture, which);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
