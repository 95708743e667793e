#!/usr/bin/env bash
# Times codepage-guess as an editor runs it, whole process, against the floor
# program (open, one read of up to 1 MiB, exit) built with the same flags, on a
# 4 KiB and a 1 MiB Japanese file in UTF-8 and in Shift_JIS. The two commands
# run in alternating rounds; the medians and their ratio are printed, with
# peak memory.
#
#   bench/whole_process.sh [BUILD_DIR]     (default build/bench; see README)
#
# Uses hyperfine when it is installed, a plain interleaved loop otherwise.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
tool=$build/codepage-guess
floor=$build/bench/floor
runs=${RUNS:-300}
for program in "$tool" "$floor"; do
  [ -x "$program" ] || { echo "missing $program: cmake --workflow --preset bench" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Lines of the bundled examples in a fixed pseudo-random order, cut to size.
make_sample() {  # SOURCE SIZE OUTPUT
  awk -v seed=7 'BEGIN { srand(seed) } { line[NR] = $0 }
    END { while (1) { print line[int(rand() * NR) + 1] } }' "$1" 2>/dev/null |
    head -c "$2" >"$3" || true
}
for encoding in utf8 sjis; do
  make_sample "$root/examples/japanese_$encoding.txt" 4096 "$work/${encoding}_4KiB.txt"
  make_sample "$root/examples/japanese_$encoding.txt" 1048576 "$work/${encoding}_1MiB.txt"
done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Median wall time in seconds of each of two commands, run in turn.
time_pair() {  # FILE -> "tool_median floor_median"
  local file=$1
  if command -v hyperfine >/dev/null; then
    # Rounds of a few runs each, the two commands in turn, so that a drift in
    # the machine's speed reaches both alike.
    local round
    for ((round = 0; round < 20; round++)); do
      hyperfine -N --warmup 3 --runs $((runs >= 40 ? runs / 20 : 2)) --export-json "$work/round$round.json" \
        "$tool $file" "$floor $file" >/dev/null 2>&1
    done
    python3 - "$work"/round*.json <<'PY'
import json, statistics, sys
times = [[], []]
for path in sys.argv[1:]:
    for k, result in enumerate(json.load(open(path))["results"]):
        times[k] += result["times"]
print(*(statistics.median(t) for t in times))
PY
    rm -f "$work"/round*.json
  else
    local a=() b=() start i
    for ((i = 0; i < runs; i++)); do
      start=$(date +%s%N); "$tool" "$file" >/dev/null; a+=($(($(date +%s%N) - start)))
      start=$(date +%s%N); "$floor" "$file" >/dev/null; b+=($(($(date +%s%N) - start)))
    done
    echo "$(printf '%s\n' "${a[@]}" | median | awk '{ print $1 / 1e9 }')" \
         "$(printf '%s\n' "${b[@]}" | median | awk '{ print $1 / 1e9 }')"
  fi
}

peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

printf '%-10s %12s %12s %7s %14s %14s\n' file tool_ms floor_ms ratio tool_peak_KiB floor_peak_KiB
for file in "$work"/utf8_4KiB.txt "$work"/sjis_4KiB.txt "$work"/utf8_1MiB.txt "$work"/sjis_1MiB.txt; do
  read -r t f < <(time_pair "$file")
  if [ -x /usr/bin/time ]; then
    tp=$(peak_kib "$tool" "$file"); fp=$(peak_kib "$floor" "$file")
  else
    tp=-; fp=-
  fi
  awk -v n="$(basename "$file" .txt)" -v t="$t" -v f="$f" -v tp="$tp" -v fp="$fp" \
    'BEGIN { printf "%-10s %12.3f %12.3f %7.2f %14s %14s\n", n, t * 1e3, f * 1e3, t / f, tp, fp }'
done
