#!/usr/bin/env bash
# Every bad input a user or an editor can hand the tool: odd paths, special
# files, endless and huge files, hostile names, closed streams. Each case runs
# under a time limit; none may crash, hang or report what it did not read.
#
# usage: bad_input_tests.sh [--windows] [--launcher CMD] [--argv0 NAME] --examples DIR EXE
# (the options are described in harness.sh)
source "$(dirname "$0")/harness.sh"

not_accessible="error: Input file is not accessible$eol"
no_bytes() { printf 'error: No bytes read from %s' "$1"; }  # add $eol: $() drops it

cp "$examples/japanese_utf8.txt" "$examples/japanese_sjis.txt" "$work/"
# 1 MiB of ASCII, then text that only UTF-8 accepts: a tool that reads past
# the first 1,048,576 bytes would answer 65001 instead of staying silent.
ascii_mib() { head -c 1048576 /dev/zero | tr '\0' 'a'; }
beyond_the_limit() { for _ in $(seq 64); do cat "$examples/japanese_utf8.txt"; done; }

# Paths that name nothing readable
mkdir "$work/folder"
if [ "$windows" = 1 ]; then
  check "a directory: cannot be opened on Windows" 1 "" "$not_accessible" -v folder
else
  check "a directory: opens, but gives no bytes" 1 "" "$(no_bytes folder)$eol" -v folder
fi
check "an empty path" 1 "" "$not_accessible" -v ""
ln -s nowhere.txt "$work/dangling"
check "a dangling symlink" 1 "" "$not_accessible" -v dangling
ln -s loop_b "$work/loop_a"
ln -s loop_a "$work/loop_b"
check "a symlink loop" 1 "" "$not_accessible" -v loop_a
check "a file used as a folder (file/)" 1 "" "$not_accessible" -v japanese_utf8.txt/
long=$(printf 'd%.0s' $(seq 4200))
check "a path over 4096 bytes" 1 "" "$not_accessible" -v "$long/x.txt"

if linux_only "a file without read permission" "no Unix permissions under Wine"; then
  cp "$examples/japanese_utf8.txt" "$work/secret.txt"
  chmod 000 "$work/secret.txt"
  chmod 711 "$work"
  if [ "$(id -u)" != 0 ]; then
    check "a file without read permission" 1 "" "$not_accessible" -v secret.txt
  elif ! command -v setpriv >/dev/null; then
    skip "a file without read permission" "running as root and setpriv is missing"
  else
    # A copy of the tool inside the work folder, which the unprivileged user
    # can reach wherever the build tree lies.
    mkdir -m 755 "$work/bin"
    cp "$exe" "$work/bin/"
    chmod 755 "$work/bin/$(basename "$exe")"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    exe="$work/bin/$(basename "$exe")" check \
      "a file without read permission, as an unprivileged user" 1 "" "$not_accessible" -v secret.txt
  fi
  chmod 700 "$work"
fi

# Files that are data whatever their kind or size
if linux_only "FIFOs and devices" "no FIFOs or Linux devices under Wine"; then
  mkfifo "$work/fifo"
  { cat "$examples/japanese_sjis.txt" >"$work/fifo"; } 2>/dev/null &
  check "a FIFO whose writer sends text and closes" 0 "$sjis" "" -v fifo
  wait
  { { ascii_mib; beyond_the_limit; } >"$work/fifo"; } 2>/dev/null &
  check "a FIFO that sends more than 1 MiB: only the first is read" 0 "" "" -v fifo
  # The writer's commands end on the closed pipe, each in turn. Killing the
  # writer instead could leave a command it started still running, to write
  # into the next case's FIFO.
  wait
  { : >"$work/fifo"; } &
  check "a FIFO closed unwritten" 1 "" "$(no_bytes fifo)$eol" -v fifo
  wait
  limit=2 check "a FIFO with no writer blocks in open, like any reader (stopped)" 124 "" "" fifo

  check "/dev/zero: 1 MiB of NUL, undecided" 0 "" "" -v /dev/zero
  any_output=("" "$utf8" "$sjis")
  check "/dev/urandom: at most one report line" 0 "" "" -v /dev/urandom
  check "/proc/self/status: size 0 in stat, read anyway" 0 "" "" -v /proc/self/status
  check "/dev/null" 1 "" "$(no_bytes /dev/null)$eol" -v /dev/null
fi
if truncate -s 10G "$work/sparse.txt" 2>/dev/null; then
  beyond_the_limit | dd of="$work/sparse.txt" bs=1M seek=2 conv=notrunc status=none
  check "a 10 GiB sparse file: only the first 1 MiB is read" 0 "" "" -v sparse.txt
  rm -f "$work/sparse.txt"
else
  skip "a 10 GiB sparse file" "the file system has no room for its size"
fi
: >"$work/empty.txt"
check "an empty file" 1 "" "$(no_bytes empty.txt)$eol" -v empty.txt

# Names are printed as they are, never read as formats or options
: >"$work/%s%n%x.txt"
check "a name with %s%n" 1 "" "$(no_bytes '%s%n%x.txt')$eol" -v '%s%n%x.txt'
if linux_only "a name with a newline" "Windows file names cannot hold one"; then
  : >"$work/two"$'\n'"lines.txt"
  check "a name with a newline" 1 "" "$(no_bytes "two"$'\n'"lines.txt")$eol" -v "two"$'\n'"lines.txt"
fi
: >"$work/-v"
check "a name with a leading -, as ./-v" 1 "" "$(no_bytes ./-v)$eol" -v ./-v
check "a name with a leading -, as ./-v, switch after" 1 "" "$(no_bytes ./-v)$eol" ./-v -v

# Closed and full streams
if linux_only "standard error closed" "Wine gives the program a standard error of its own"; then
  stderr_to=closed check "standard error closed, -v, missing file" 1 "" "" -v missing.txt
  stderr_to=closed check "standard error closed, -v, a verdict still printed" 0 "$utf8" "" \
    -v japanese_utf8.txt
  stdout_to=full stderr_to=closed check "both streams unusable, -v" 1 "" "" -v japanese_utf8.txt
fi

summary
