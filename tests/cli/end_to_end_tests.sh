#!/usr/bin/env bash
# End-to-end checks of codepage-guess as an editor runs it: for each case the
# exit status, standard output and standard error are compared byte for byte.
#
# usage: end_to_end_tests.sh [--windows] [--launcher CMD] [--argv0 NAME] --examples DIR EXE
# (the options are described in harness.sh)
source "$(dirname "$0")/harness.sh"

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
if linux_only "stdout full or closed" \
  "no /dev/full under Windows, and Wine gives the program a standard output of its own"; then
  for stream in full closed; do
    stdout_to=$stream check "stdout $stream" 1 "" "" japanese_sjis.txt
    stdout_to=$stream check "stdout $stream, -v" 1 "" \
      "error: Standard output is not writable$eol" -v japanese_sjis.txt
  done
  stdout_to=full check "stdout full, undecided: nothing to write" 0 "" "" ascii.txt
fi

summary
