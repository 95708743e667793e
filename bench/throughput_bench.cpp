#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/counting.hpp"
#include "bench_inputs.hpp"
#include "codepage_guess.h"
#include "encoding/candidates.hpp"
#include "encoding/char_digester.hpp"
#include "encoding/conjecture.hpp"
#include "encoding/kernels.hpp"
#include "encoding/kinds.hpp"
#include "encoding/shift_jis_tables.hpp"
#include "load_bench.hpp"

// Throughput on 1 MiB inputs of each counter, each kernel of every instruction
// set the processor runs, and the whole conjecture (and its full reading), beside
// a plain histogram loop over the same bytes as the reference.
namespace {

const bench::Samples& samples() {
  static const bench::Samples shared(CODEPAGE_GUESS_EXAMPLES_DIR);
  return shared;
}

constexpr auto kCandidates = my::candidateNames();

void setThroughput(benchmark::State& state, const bench::Bytes& bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes.size()));
}

std::uint32_t lengthOf(const bench::Bytes& bytes) {
  return static_cast<std::uint32_t>(bytes.size());
}

void plainHistogram(benchmark::State& state, const bench::Bytes* bytes) {
  for (auto _ : state) {
    std::uint32_t counts[256] = {};
    for (const std::uint8_t b : *bytes)
      ++counts[b];
    benchmark::DoNotOptimize(counts);
    benchmark::ClobberMemory();
  }
  setThroughput(state, *bytes);
}

void counter(benchmark::State& state, const char* encoding, const bench::Bytes* bytes) {
  for (auto _ : state) {
    const auto digester = my::createDigester(encoding);
    digester->digest(bytes->data(), lengthOf(*bytes));
    benchmark::DoNotOptimize(digester->errorCount());
    benchmark::DoNotOptimize(digester->histogram()[0x82]);
  }
  setThroughput(state, *bytes);
}

void conjecture(benchmark::State& state, const bench::Bytes* bytes) {
  for (auto _ : state)
    benchmark::DoNotOptimize(my::conjectureEncoding(kCandidates, bytes->data(), lengthOf(*bytes)));
  setThroughput(state, *bytes);
}

// The command line's decision: the histograms of a long input on two
// threads where the process may use two processors (not under `taskset -c N`).
// Timed by the wall clock, which is what a second thread shortens.
void toolDecision(benchmark::State& state, const bench::Bytes* bytes) {
  for (auto _ : state)
    benchmark::DoNotOptimize(
        my::conjectureEncoding(kCandidates, bytes->data(), lengthOf(*bytes), app::countCharacters));
  setThroughput(state, *bytes);
}

void conjectureByDigesters(benchmark::State& state, const bench::Bytes* bytes) {
  for (auto _ : state)
    benchmark::DoNotOptimize(
        my::conjectureByDigesters(kCandidates, bytes->data(), lengthOf(*bytes)));
  setThroughput(state, *bytes);
}

// One of an instruction set's kernels on the whole input, its answer kept.
template <typename Answer>
void kernel(benchmark::State& state, Answer (*run)(const std::uint8_t*, std::uint32_t) noexcept,
            const bench::Bytes* bytes) {
  for (auto _ : state)
    benchmark::DoNotOptimize(run(bytes->data(), lengthOf(*bytes)));
  setThroughput(state, *bytes);
}

void countCharacters(benchmark::State& state, const my::Kernels* kernels,
                     const bench::Bytes* bytes) {
  my::CharacterCounts counts;
  for (auto _ : state) {
    kernels->countCharacters(bytes->data(), lengthOf(*bytes), counts);
    benchmark::DoNotOptimize(counts);
    benchmark::ClobberMemory();
  }
  setThroughput(state, *bytes);
}

// An instruction set's Shift_JIS blocks on the whole input (the decoders'
// careful path, which takes the last bytes, left out): what each kernel set's
// decoder runs at where no byte is broken.
void decodeShiftJIS(benchmark::State& state, const my::Kernels* kernels,
                    const bench::Bytes* bytes) {
  std::vector<std::uint8_t> out(3 * bytes->size() + 256);
  for (auto _ : state) {
    std::size_t written = 0;
    benchmark::DoNotOptimize(kernels->decodeShiftJIS(my::shiftJISTables(), bytes->data(),
                                                     bytes->size(), out.data(), out.size(), false,
                                                     written));
    benchmark::DoNotOptimize(out.data());
  }
  setThroughput(state, *bytes);
}

// The library's one-shot call on the first 4 KiB, as an editor would make it
// for a small file: what a process start per file is weighed against.
void libraryCall(benchmark::State& state, const bench::Bytes* bytes) {
  const std::size_t size = 4096;
  for (auto _ : state)
    benchmark::DoNotOptimize(cpg_guess(bytes->data(), size));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 4096);
}

// The classification beside the verdict, one-shot, on each input: what it
// costs over cpg_guess (the conjecture above).
void describe(benchmark::State& state, const bench::Bytes* bytes) {
  for (auto _ : state) {
    const my::Description d = my::describe(bytes->data(), lengthOf(*bytes), my::Extent::Start);
    benchmark::DoNotOptimize(d);
  }
  setThroughput(state, *bytes);
}

// The classifier fed 64 KiB at a time, as codepage-convert and codepage-cat
// read whole files.
void classify(benchmark::State& state, const bench::Bytes* bytes) {
  constexpr std::size_t kPiece = 64 * 1024;
  for (auto _ : state) {
    my::Classifier classifier;
    for (std::size_t at = 0; at < bytes->size(); at += kPiece)
      classifier.feed(bytes->data() + at, std::min(kPiece, bytes->size() - at));
    benchmark::DoNotOptimize(classifier.finish());
  }
  setThroughput(state, *bytes);
}

void registerAll() {
  // Random bytes break both readings within 4 KiB: the histograms' fixed
  // cost (emptying and summing their tables) shows there.
  for (const char* input : {"japanese_utf8", "japanese_sjis", "random"}) {
    benchmark::RegisterBenchmark((std::string("cpg_guess_4KiB/") + input).c_str(), libraryCall,
                                 &samples()[input]);
  }
  for (const auto& [input, bytes] : samples().inputs) {
    const bench::Bytes* data = &bytes;
    const std::string suffix = "/" + input;
    benchmark::RegisterBenchmark(("plain_histogram" + suffix).c_str(), plainHistogram, data);
    benchmark::RegisterBenchmark(("counter_utf8" + suffix).c_str(), counter, "utf8", data);
    benchmark::RegisterBenchmark(("counter_sjis" + suffix).c_str(), counter, "sjis", data);
    benchmark::RegisterBenchmark(("conjecture" + suffix).c_str(), conjecture, data);
    benchmark::RegisterBenchmark(("tool_decision" + suffix).c_str(), toolDecision, data)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("describe" + suffix).c_str(), describe, data);
    benchmark::RegisterBenchmark(("classify" + suffix).c_str(), classify, data);
    benchmark::RegisterBenchmark(("conjecture_by_digesters" + suffix).c_str(),
                                 conjectureByDigesters, data);
    for (const my::Kernels* kernels : my::runnableKernels()) {
      const std::string isa = std::string("/") + kernels->name;
      benchmark::RegisterBenchmark(("validate_utf8" + isa + suffix).c_str(), kernel<bool>,
                                   kernels->isErrorFreeUTF8, data);
      benchmark::RegisterBenchmark(("validate_sjis" + isa + suffix).c_str(), kernel<bool>,
                                   kernels->isErrorFreeSJIS, data);
      benchmark::RegisterBenchmark(("check_utf8_strictly" + isa + suffix).c_str(),
                                   kernel<my::UTF8Check>, kernels->checkUTF8Strictly, data);
      benchmark::RegisterBenchmark(("count_characters" + isa + suffix).c_str(), countCharacters,
                                   kernels, data);
      benchmark::RegisterBenchmark(("check_shift_jis_lines" + isa + suffix).c_str(),
                                   kernel<my::ShiftJISLines>, kernels->checkShiftJISLines, data);
      benchmark::RegisterBenchmark(("check_euc_jp" + isa + suffix).c_str(), kernel<my::EUCJPCheck>,
                                   kernels->checkEUCJP, data);
      if (input == "japanese_sjis")
        benchmark::RegisterBenchmark(("decode_shift_jis" + isa + suffix).c_str(), decodeShiftJIS,
                                     kernels, data);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // "--write-samples DIR": the whole-process script's input files, then exit.
  if (argc == 3 && std::strcmp(argv[1], "--write-samples") == 0) {
    bench::writeSampleFiles(samples(), argv[2]);
    return 0;
  }
  registerAll();
  const std::filesystem::path files =
      std::filesystem::temp_directory_path() / "codepage_guess_bench";
  std::filesystem::create_directories(files);
  bench::registerLoadBenchmarks(samples(), files.string());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(files);
  return 0;
}
