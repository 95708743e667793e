// Loading a file and deciding on it, in process: one read into a fresh buffer
// against a mapping, for files of 1 KiB to 1 MiB of Japanese Shift_JIS. The
// tool maps wherever it can; these say whether some sizes would be better
// read.
#include "load_bench.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/input.hpp"
#include "encoding/candidates.hpp"
#include "encoding/conjecture.hpp"

#if defined(__linux__)
#include <fcntl.h>
#include <unistd.h>

#include "app/file_mapping.hpp"
#endif

namespace bench {
namespace {

void decide(const std::uint8_t* data, std::size_t size) {
  benchmark::DoNotOptimize(
      my::conjectureEncoding(my::candidateNames(), data, static_cast<std::uint32_t>(size)));
}

void readAndDecide(benchmark::State& state, std::string path) {
  for (auto _ : state) {
    const app::Input input = app::readInput(path.c_str());
    decide(input.data(), input.size());
  }
}

#if defined(__linux__)
void mapAndDecide(benchmark::State& state, std::string path) {
  for (auto _ : state) {
    const int descriptor = ::open(path.c_str(), O_RDONLY);
    {
      const app::FileMapping mapping(descriptor, app::kInputLimit);
      decide(mapping.data(), mapping.size());
    }
    ::close(descriptor);
  }
}
#endif

}  // namespace

void registerLoadBenchmarks(const Samples& samples, const std::string& dir) {
  const Bytes& text = samples["japanese_sjis"];
  for (const int kib : {1, 4, 16, 64, 256, 1024}) {
    const std::string name = "sjis_" + std::to_string(kib) + "KiB";
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(text.data()), std::streamsize{kib} << 10);
    benchmark::RegisterBenchmark(("load/read/" + name).c_str(), readAndDecide, path);
#if defined(__linux__)
    benchmark::RegisterBenchmark(("load/map/" + name).c_str(), mapAndDecide, path);
#endif
  }
}

}  // namespace bench
