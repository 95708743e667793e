#!/usr/bin/env python3
"""Runs the throughput benchmarks and prints each one's throughput as a
multiple of the plain histogram loop's over the same bytes, in the same run.

    bench/counter_ratios.py [COMMAND [BENCHMARK_ARGS...]]

COMMAND defaults to build/bench/bench/codepage_guess_bench; it is split as a
shell would split it, so a launcher may come first ("wine ....exe").
"""
import json
import shlex
import subprocess
import sys

command = shlex.split(sys.argv[1] if len(sys.argv) > 1 else "build/bench/bench/codepage_guess_bench")
runs = subprocess.run(
    [*command, "--benchmark_format=json", "--benchmark_repetitions=5",
     "--benchmark_report_aggregates_only=true", *sys.argv[2:]],
    check=True, capture_output=True, text=True)
medians = {
    b["run_name"]: b["bytes_per_second"]
    for b in json.loads(runs.stdout)["benchmarks"]
    if b.get("aggregate_name") == "median" and "bytes_per_second" in b  # not the load/ timings
}
print(f"{'benchmark':28} {'MB/s':>9} {'x plain loop':>13}")
for name, rate in medians.items():
    kind, _, data = name.rpartition("/")
    plain = medians.get("plain_histogram/" + data)
    ratio = f"{rate / plain:13.2f}" if plain else f"{'':13}"
    print(f"{name:28} {rate / 1e6:9.0f} {ratio}")
