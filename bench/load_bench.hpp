#pragma once

#include <string>

#include "bench_inputs.hpp"

namespace bench {

// load/read/... and load/map/...: files of Shift_JIS of 1 KiB to 1 MiB,
// written into `dir`, read or mapped and decided on.
void registerLoadBenchmarks(const Samples& samples, const std::string& dir);

}  // namespace bench
