#!/usr/bin/env bash
# End-to-end checks of codepage-guess as an editor runs it: for each case the
# exit status, standard output and standard error are compared byte for byte.
#
# usage: cli_tests.sh [--windows] [--launcher CMD] [--argv0 NAME] --examples DIR EXE
#   --windows    the executable is a Windows build: lines end in CR LF, and
#                cases that need Linux devices are skipped (and listed as such)
#   --launcher   a program to run the executable with (e.g. wine); repeatable
#   --argv0      argument 0 as the executable will see it (default: EXE)
set -u

launcher=()
eol=$'\n'
windows=0
argv0=
examples=
while [ $# -gt 1 ]; do
  case $1 in
    --windows) windows=1 eol=$'\r\n'; shift ;;
    --launcher) launcher+=("$2"); shift 2 ;;
    --argv0) argv0=$2; shift 2 ;;
    --examples) examples=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -eq 1 ] && [ -n "$examples" ] || { sed -n '5,10p' "$0" >&2; exit 2; }
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")  # the cases run elsewhere
if [ -z "$argv0" ]; then
  argv0=$exe
  # Wine hands a Windows program its own path in DOS form.
  if [ "$windows" = 1 ] && command -v winepath >/dev/null; then argv0=$(winepath -w "$exe"); fi
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
results=$(mktemp -d)
trap 'rm -rf "$work" "$results"' EXIT
passed=0 failed=0 skipped=0

# The lines as the tool writes them on this platform.
lines() {
  local line
  for line in "$@"; do printf '%s%s' "$line" "$eol"; done
}
usage=$(lines "$argv0 (-v) [file]" "" \
  "This program conjectures the text encoding of [file] for Penwick." \
  "Without -v option, no error message is shown."; printf x)
usage=${usage%x}
utf8=$(lines "code.page=65001"; printf x) utf8=${utf8%x}
sjis=$(lines "code.page=932"; printf x) sjis=${sjis%x}

# stdout_to: where the tool's standard output goes ("file", "full" or "closed").
stdout_to=file

# check NAME STATUS STDOUT STDERR [ARGS...]: runs the tool in the work folder.
check() {
  local name=$1 want_status=$2 want_out=$3 want_err=$4 status
  shift 4
  : >"$results/out"
  case $stdout_to in
    file) (cd "$work" && exec "${launcher[@]}" "$exe" "$@") >"$results/out" 2>"$results/err" ;;
    full) (cd "$work" && exec "${launcher[@]}" "$exe" "$@") >/dev/full 2>"$results/err" ;;
    closed) (cd "$work" && exec "${launcher[@]}" "$exe" "$@") >&- 2>"$results/err" ;;
  esac
  status=$?
  printf '%s' "$want_out" >"$results/want_out"
  printf '%s' "$want_err" >"$results/want_err"
  local problems=()
  [ "$status" = "$want_status" ] || problems+=("exit status $status, expected $want_status")
  cmp -s "$results/out" "$results/want_out" ||
    problems+=("stdout $(od -c "$results/out" | head -3), expected $(od -c "$results/want_out" | head -3)")
  cmp -s "$results/err" "$results/want_err" ||
    problems+=("stderr $(od -c "$results/err" | head -6), expected $(od -c "$results/want_err" | head -6)")
  if [ ${#problems[@]} -eq 0 ]; then
    passed=$((passed + 1))
    echo "ok      $name"
  else
    failed=$((failed + 1))
    echo "FAILED  $name"
    printf '        %s\n' "${problems[@]}"
  fi
}

skip() {
  skipped=$((skipped + 1))
  echo "skipped $1 ($2)"
}

cp "$examples/japanese_utf8.txt" "$examples/japanese_sjis.txt" "$examples/ascii.txt" "$work/"
: >"$work/empty.txt"

# Argument forms
check "no arguments: usage" 1 "" "$usage"
check "three arguments: usage" 1 "" "$usage" -v japanese_sjis.txt -v
check "two arguments without -v: usage" 1 "" "$usage" japanese_sjis.txt ascii.txt
check "-V is not the switch: usage" 1 "" "$usage" -V japanese_sjis.txt
check "path alone" 0 "$sjis" "" japanese_sjis.txt
check "-v before the path" 0 "$sjis" "" -v japanese_sjis.txt
check "-v after the path" 0 "$sjis" "" japanese_sjis.txt -v
check "a lone -v is a path, not verbose" 1 "" "" -v
check "-v -v: verbose, path -v" 1 "" "error: Input file is not accessible$eol" -v -v
cp "$work/japanese_utf8.txt" "$work/-v"
check "a file named -v" 0 "$utf8" "" -v
check "-v -v reads the file named -v" 0 "$utf8" "" -v -v
rm -f "$work/-v"

# Verdicts on the bundled examples
check "Japanese UTF-8" 0 "$utf8" "" japanese_utf8.txt
check "Japanese Shift_JIS" 0 "$sjis" "" japanese_sjis.txt
check "plain ASCII: undecided" 0 "" "" ascii.txt
check "plain ASCII with -v: still silent" 0 "" "" -v ascii.txt

# File names outside any single ANSI code page (UTF-8 on the command line)
cp "$work/japanese_sjis.txt" "$work/日本語.txt"
cp "$work/japanese_sjis.txt" "$work/한국어.txt"
check "a Japanese file name" 0 "$sjis" "" 日本語.txt
check "a Korean file name" 0 "$sjis" "" -v 한국어.txt
: >"$work/空.txt"
check "an empty Japanese file name, -v" 1 "" "error: No bytes read from 空.txt$eol" -v 空.txt

# Files that give nothing to read
check "missing file" 1 "" "" missing.txt
check "missing file, -v" 1 "" "error: Input file is not accessible$eol" -v missing.txt
check "empty file" 1 "" "" empty.txt
check "empty file, -v: the path as typed" 1 "" "error: No bytes read from ./empty.txt$eol" ./empty.txt -v
cp "$work/empty.txt" "$work/100%s%n.txt"
check "a path is never a format" 1 "" "error: No bytes read from 100%s%n.txt$eol" -v "100%s%n.txt"

# Only the first 1,048,576 bytes count: they are ASCII ending in the lead byte
# of a character cut at the limit, which is no error. Reading on would find
# UTF-8 text that only UTF-8 accepts.
{
  head -c 1048575 /dev/zero | tr '\0' 'a'
  printf '\xe3\x81\x82'
  for _ in $(seq 16); do head -c 131072 /dev/zero | tr '\0' 'x'; printf 'x\xe2\x80\xa0%.0s' $(seq 256); done
} >"$work/three_mib.txt"
check "3 MiB file cut inside a character at 1 MiB: undecided" 0 "" "" three_mib.txt

# A report that cannot be written is a failure, not "undecided".
if [ "$windows" = 1 ]; then
  skip "stdout to /dev/full" "no /dev/full under Windows"
  skip "stdout to /dev/full, -v" "no /dev/full under Windows"
else
  stdout_to=full
  check "stdout to /dev/full" 1 "" "" japanese_sjis.txt
  check "stdout to /dev/full, -v" 1 "" "error: Standard output is not writable$eol" -v japanese_sjis.txt
  check "stdout to /dev/full, undecided: nothing to write" 0 "" "" ascii.txt
  stdout_to=file
fi
if [ "$windows" = 1 ]; then
  skip "stdout closed" "Wine gives the program a standard output of its own"
  skip "stdout closed, -v" "Wine gives the program a standard output of its own"
else
  stdout_to=closed
  check "stdout closed" 1 "" "" japanese_sjis.txt
  check "stdout closed, -v" 1 "" "error: Standard output is not writable$eol" -v japanese_sjis.txt
  stdout_to=file
fi

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
