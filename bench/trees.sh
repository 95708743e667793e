#!/usr/bin/env bash
# codepage-scan and codepage-convert on a generated tree of 10,000 files (a few
# bytes to 1 MiB, Japanese text in UTF-8 and Shift_JIS, sizes spread evenly on
# a log scale), against what people use today: one codepage-guess process per
# file, nkf --guess and uchardet given the files through xargs, and iconv per
# file for the conversion. Median wall times with hyperfine.
#
#   bench/trees.sh [BUILD_DIR]     (default build/release; FILES=10000 RUNS=5)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
files=${FILES:-10000}
runs=${RUNS:-5}
for program in codepage-guess codepage-scan codepage-convert; do
  [ -x "$build/$program" ] || { echo "missing $build/$program: cmake --workflow --preset release" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "needs hyperfine" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/tree" "$files" "$root/tests/trees/japanese.txt" <<'PY'
import math, os, random, subprocess, sys
root, count, sample = sys.argv[1], int(sys.argv[2]), open(sys.argv[3], encoding="utf-8").read()
text = {"utf8": sample.encode(),
        "sjis": subprocess.run(["iconv", "-f", "UTF-8", "-t", "CP932"], input=sample.encode(),
                               capture_output=True, check=True).stdout}
rng = random.Random(3)
for k in range(count):
    encoding = "sjis" if k % 2 else "utf8"
    size = int(math.exp(rng.uniform(math.log(4), math.log(1 << 20))))
    body = text[encoding] * (size // len(text[encoding]) + 1)
    cut = body.rfind(b"\n", 0, size) + 1 or size  # whole lines, so Shift_JIS stays whole
    path = os.path.join(root, encoding, f"{k % 100:02d}", f"{k}.txt")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(body[:max(cut, 2)] if cut else body[:size])
PY
du -sh "$work/tree" | awk '{ print "tree: '"$files"' files, " $1 }'
cd "$work"
list=$work/files.txt
find tree -type f -print0 >"$list"

scan=$build/codepage-scan guess=$build/codepage-guess convert=$build/codepage-convert
table() {  # JSON TITLE BASELINE_INDEX: median of each command, and as a multiple of one of them
  python3 - "$@" <<'PY'
import json, statistics, sys
results = json.load(open(sys.argv[1]))["results"]
base = statistics.median(results[int(sys.argv[3])]["times"])
print(f"| {sys.argv[2]} | median | time as a multiple of {results[int(sys.argv[3])]['command'].split(' #')[-1].strip()} |")
print("|---|---|---|")
for r in results:
    median = statistics.median(r["times"])
    print(f"| {r['command'].split(' #')[-1].strip()} | {median:.2f} s | {median / base:.2f} |")
PY
}

# Each command carries its name after '#', for the table.
floor=$build/bench/tree_floor
[ -x "$floor" ] || floor=$(dirname "$build")/bench/bench/tree_floor
scan_commands=()
if [ -x "$floor" ]; then
  scan_commands+=("$floor <files.txt >/dev/null # open, fstat, read, close each file")
fi
scan_commands+=(
  "$scan -j 1 tree >/dev/null # codepage-scan -j 1"
  "$scan -j 2 tree >/dev/null # codepage-scan -j 2"
  "xargs -0 -n 1 $guess <files.txt >/dev/null # codepage-guess per file"
  "xargs -0 -n 1 -P 2 $guess <files.txt >/dev/null # codepage-guess per file, 2 at once"
)
if command -v nkf >/dev/null; then
  scan_commands+=("xargs -0 nkf --guess <files.txt >/dev/null # nkf --guess through xargs"
                  "xargs -0 -n 500 -P 2 nkf --guess <files.txt >/dev/null # nkf --guess, 2 at once")
fi
if command -v uchardet >/dev/null; then
  scan_commands+=("xargs -0 uchardet <files.txt >/dev/null # uchardet through xargs"
                  "xargs -0 -n 500 -P 2 uchardet <files.txt >/dev/null # uchardet, 2 at once")
fi
find tree -type f -print0 >files.txt
hyperfine --shell=bash --warmup 1 --runs "$runs" --export-json scan.json "${scan_commands[@]}" >/dev/null
table scan.json "scanning $files files" 0

# The first line out, and the most memory held, on a tree of many files.
python3 - "$scan" tree <<'PY'
import resource, subprocess, sys, time
started = time.monotonic()
process = subprocess.Popen([sys.argv[1], "-j", "2", sys.argv[2]], stdout=subprocess.PIPE)
process.stdout.readline()
first = time.monotonic() - started
lines = 1 + sum(1 for _ in process.stdout)
process.wait()
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print(f"codepage-scan -j 2: first line after {1000 * first:.1f} ms, {lines} lines, "
      f"peak memory {peak / 1024:.1f} MiB")
PY

# Converting the Shift_JIS half, a fresh copy each run.
convert_commands=(
  "$convert -j 1 copy >/dev/null # codepage-convert -j 1"
  "$convert -j 2 copy >/dev/null # codepage-convert -j 2"
  "find copy -type f -print0 | while IFS= read -r -d '' f; do iconv -f CP932 -t UTF-8 \"\$f\" >\"\$f.new\" && mv \"\$f.new\" \"\$f\"; done # iconv per file"
)
hyperfine --shell=bash --warmup 1 --runs "$runs" --prepare "rm -rf copy && cp -r tree/sjis copy" \
  --export-json convert.json "${convert_commands[@]}" >/dev/null
table convert.json "converting $((files / 2)) Shift_JIS files" 0
