#!/usr/bin/env bash
# Builds the library example from an installed codepage-guess alone, four ways
# (find_package and pkg-config, each with the shared and with the static
# library), and runs each on the bundled samples; then the static library
# inside a shared object that a program loads, and in a C++ program that has a
# namespace `my` of its own.
#
#   tests/consumer/check_installed.sh PREFIX WORK_DIR
#
# PREFIX is where the library was installed (/usr, or a staging copy of it).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
prefix=$1
work=$2
pc_file=$(find "$prefix" -path '*/pkgconfig/codepage-guess.pc' -print -quit)
[ -n "$pc_file" ] || { echo "no codepage-guess.pc under $prefix" >&2; exit 1; }
export PKG_CONFIG_PATH=$(dirname "$pc_file")
libdir=$(pkg-config --variable=libdir codepage-guess)
export LD_LIBRARY_PATH=$libdir  # a staging copy is not where the loader looks
mkdir -p "$work"

check() {  # PROGRAM LINKAGE: decides the samples, and links the library as said
  local program=$1 linkage=$2 sample want
  for sample in japanese_utf8:65001 japanese_sjis:932 ascii:0; do
    want="code page ${sample#*:}, by"
    # Whole output first: grep -q stops early, and a broken pipe would fail
    # the pipeline.
    output=$("$program" "$root/examples/${sample%%:*}.txt")
    grep -q "$want" <<<"$output" ||
      { echo "$program on ${sample%%:*}: expected '$want'" >&2; exit 1; }
  done
  if grep -q 'NEEDED.*libcodepage_guess' <<<"$(readelf -d "$program")"; then
    [ "$linkage" = shared ] || { echo "$program needs the shared library" >&2; exit 1; }
  else
    [ "$linkage" = static ] || { echo "$program does not use the shared library" >&2; exit 1; }
  fi
  echo "$program: ok ($linkage)"
}

for linkage in shared static; do
  static=OFF
  [ "$linkage" = static ] && static=ON
  cmake -S "$here" -B "$work/find_package-$linkage" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCONSUMER_STATIC=$static >/dev/null
  cmake --build "$work/find_package-$linkage" >/dev/null
  check "$work/find_package-$linkage/explain_file" $linkage
done

flags=(-std=c99 -Wall -Wextra -Wpedantic -Werror "$root/examples/explain_file.c")
read -r -a cflags <<<"$(pkg-config --cflags codepage-guess)"
read -r -a libs <<<"$(pkg-config --libs codepage-guess)"
cc "${flags[@]}" "${cflags[@]}" "${libs[@]}" -o "$work/pkg-config-shared"
check "$work/pkg-config-shared" shared
# --static adds what the static library needs; -Bstatic picks it over the .so.
read -r -a runtime <<<"$(pkg-config --static --libs-only-l codepage-guess | sed 's/-lcodepage_guess//')"
cc "${flags[@]}" "${cflags[@]}" -L"$libdir" -Wl,-Bstatic -lcodepage_guess -Wl,-Bdynamic \
  "${runtime[@]}" -o "$work/pkg-config-static"
check "$work/pkg-config-static" static

# The static library inside a shared object, loaded at run time.
cc -std=c99 -Wall -Wextra -Werror -fPIC -shared "${cflags[@]}" "$here/plugin.c" \
  -L"$libdir" -Wl,-Bstatic -lcodepage_guess -Wl,-Bdynamic "${runtime[@]}" -o "$work/plugin.so"
if grep -q 'NEEDED.*libcodepage_guess' <<<"$(readelf -d "$work/plugin.so")"; then
  echo "plugin.so needs the shared library" >&2
  exit 1
fi
cc -std=c99 -Wall -Wextra -Werror "$here/load_plugin.c" -ldl -o "$work/load_plugin"
[ "$("$work/load_plugin" "$work/plugin.so" 82 A0)" = 932 ] ||
  { echo "plugin.so: wrong verdict" >&2; exit 1; }
echo "$work/plugin.so: ok (static library in a shared object)"

# A C++ program with a `my` of its own.
c++ -std=c++17 -Wall -Wextra -Werror "${cflags[@]}" "$here/own_namespace.cpp" \
  -L"$libdir" -Wl,-Bstatic -lcodepage_guess -Wl,-Bdynamic -o "$work/own_namespace"
[ "$("$work/own_namespace")" = "65001 0.866 1" ] ||
  { echo "own_namespace: the library's names and the program's met" >&2; exit 1; }
echo "$work/own_namespace: ok (a namespace my of its own)"
