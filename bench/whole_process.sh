#!/usr/bin/env bash
# Times codepage-guess as an editor runs it, whole process, against the floor
# program (open, one read of up to 1 MiB, exit) built with the same flags, and
# against the general-purpose detectors uchardet and nkf when they are
# installed. The inputs are Japanese UTF-8 and Shift_JIS of 4 KiB to 1 MiB,
# 1 MiB of Shift_JIS with a UTF-8 line pasted in every 64 KiB, and 1 MiB of
# random bytes. The commands run in alternating rounds; the medians and their
# ratios to the floor are printed, with the peak memory of the tool and floor.
#
#   bench/whole_process.sh [BUILD_DIR]     (default build/bench; see README)
#
# Needs hyperfine: a loop timed from the shell would time the shell's own
# forks too, which are several times what a short run costs.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
tool=$build/codepage-guess
floor=$build/bench/floor
samples=$build/bench/codepage_guess_bench
runs=${RUNS:-300}
command -v hyperfine >/dev/null || { echo "needs hyperfine (apt-get install hyperfine)" >&2; exit 1; }
for program in "$tool" "$floor" "$samples"; do
  [ -x "$program" ] || { echo "missing $program: cmake --workflow --preset bench" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$samples" --write-samples "$work"
# The tool and the floor run from fresh copies, as an installed program is a
# file written whole: the linker's own output ran 5 to 10% slower at 4 KiB
# here, the same bytes, which measures how the file was written, not the tool.
cp "$tool" "$work/codepage-guess"
cp "$floor" "$work/floor"
tool=$work/codepage-guess
floor=$work/floor

# name and command prefix of each program timed; the file is appended
commands=("tool:$tool" "floor:$floor")
command -v uchardet >/dev/null && commands+=("uchardet:$(command -v uchardet)")
command -v nkf >/dev/null && commands+=("nkf:$(command -v nkf) -g")

# Median wall time in seconds of each command on FILE, in the order above.
time_all() {  # FILE
  local file=$1 c
  local lines=()
  for c in "${commands[@]}"; do lines+=("${c#*:} $file"); done
  # Rounds of a few runs each, the commands in turn, so that a drift in the
  # machine's speed reaches all alike.
  local round
  # hyperfine now and then fails a round of commands that all ran (seen about
  # once in a thousand rounds here): such a round is run again, and only a
  # second failure, with what hyperfine said, ends the script.
  for ((round = 0; round < 20; round++)); do
    local attempt
    for attempt in 1 2; do
      hyperfine -N -i --warmup 3 --runs $((runs >= 40 ? runs / 20 : 2)) \
        --export-json "$work/round$round.json" "${lines[@]}" >"$work/hyperfine.log" 2>&1 && break
      if [ "$attempt" = 2 ]; then
        cat "$work/hyperfine.log" >&2
        return 1
      fi
    done
  done
  python3 - "$work"/round*.json <<'PY'
import json, statistics, sys
times = {}
for path in sys.argv[1:]:
    for k, result in enumerate(json.load(open(path))["results"]):
        times.setdefault(k, []).extend(result["times"])
print(*(statistics.median(times[k]) for k in sorted(times)))
PY
  rm -f "$work"/round*.json
}

# The floor's status is its first byte's low bit: ignore statuses here.
peak_kib() { { /usr/bin/time -f %M "$@" 2>&1 >/dev/null || true; } | tail -n 1; }

header=$(printf '%-12s %9s %9s %7s' file tool_ms floor_ms ratio)
for c in "${commands[@]:2}"; do header+=$(printf ' %9s' "${c%%:*}"); done
header+=$(printf ' %10s %10s' tool_KiB floor_KiB)
echo "$header"
for name in utf8_4KiB sjis_4KiB utf8_64KiB sjis_64KiB utf8_256KiB sjis_256KiB \
  utf8_1MiB sjis_1MiB mixed_1MiB random_1MiB; do
  file=$work/$name
  read -r -a t < <(time_all "$file")
  if [ -x /usr/bin/time ]; then
    tp=$(peak_kib "$tool" "$file"); fp=$(peak_kib "$floor" "$file")
  else
    tp=-; fp=-
  fi
  line=$(awk -v n="$name" -v t="${t[0]}" -v f="${t[1]}" \
    'BEGIN { printf "%-12s %9.3f %9.3f %7.2f", n, t * 1e3, f * 1e3, t / f }')
  for ((k = 2; k < ${#t[@]}; k++)); do
    line+=$(awk -v p="${t[$k]}" -v f="${t[1]}" 'BEGIN { printf " %9.2f", p / f }')
  done
  echo "$line $(printf '%10s %10s' "$tp" "$fp")"
done
echo "(peer columns: their time as a multiple of the floor's)"
