#!/usr/bin/env bash
# The Python module as users get it: a wheel and an sdist built with Debian's
# setuptools (nothing downloaded, nothing built first: the library is compiled
# from its sources into the extension), each installed into a fresh virtual
# environment that sees Debian's pytest, NumPy and Dask; the tests run there,
# outside the source tree, with the Dask example on a LocalCluster of two
# worker processes.
#
#   python/run_tests.sh [CODEPAGE_GUESS] [WORK]
#     (defaults: build/release/codepage-guess, build/python)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
tool=$(cd "$(dirname "${1:-$root/build/release/codepage-guess}")" && pwd)/$(basename "${1:-codepage-guess}")
work=$(mkdir -p "${2:-$root/build/python}" && cd "${2:-$root/build/python}" && pwd)
python=/usr/bin/python3  # Debian's, with its packages

# Builds leave nothing in the source folder but the LICENSE copy (ignored).
clean() { rm -rf "$here/build" "$here/src/codepage_guess.egg-info" "$here/vendor"; }

echo "-- the wheel: one abi3 wheel for CPython 3.11 and later, built from the library's sources"
rm -rf "$work/dist"
clean
(cd "$here" && "$python" -m pip wheel --no-build-isolation --no-deps --quiet -w "$work/dist" .)
wheel=$(ls "$work"/dist/codepage_guess-*.whl)
"$python" -m zipfile -l "$wheel"
case $(basename "$wheel") in
  codepage_guess-*-cp311-abi3-*.whl) ;;
  *) echo "$wheel: not an abi3 wheel for cp311" >&2; exit 1 ;;
esac
"$python" - "$wheel" <<'PY'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
if not any(n.endswith(".dist-info/LICENSE") for n in names):
    sys.exit("the wheel has no LICENSE")
if any(n.endswith((".c", ".cpp", ".hpp", ".h")) for n in names):
    sys.exit("the wheel ships sources")
PY
clean

echo "-- the sdist, with the library's sources vendored"
(cd "$here" && "$python" setup.py -q sdist -d "$work/dist" 2>/dev/null)
sdist=$(ls "$work"/dist/codepage_guess-*.tar.gz)
listing=$(tar -tzf "$sdist")  # whole, so that grep -q cannot break tar's pipe
grep -q '/vendor/encoding/classifier.cpp$' <<<"$listing" ||
  { echo "$sdist: no library sources" >&2; exit 1; }
clean

echo "-- pip install of the source folder and of the sdist, each in a fresh environment"
for source in "$here" "$sdist"; do
  rm -rf "$work/direct"
  "$python" -m venv --system-site-packages "$work/direct"
  "$work/direct/bin/pip" install --quiet --no-build-isolation --no-deps --no-index "$source"
  (cd "$work" && "$work/direct/bin/python" -c '
import codepage_guess, doctest, sys
assert doctest.testmod(codepage_guess).failed == 0
assert codepage_guess.guess_file(sys.argv[1]) == 932, "wrong verdict"
print(codepage_guess.__version__, codepage_guess.describe_file(sys.argv[1]))' \
    "$root/examples/japanese_sjis.txt")
  clean
done

echo "-- the wheel in a fresh environment, and the tests there"
rm -rf "$work/venv" "$work/tests"
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --quiet --no-index "$wheel"
cp -r "$here/tests" "$work/tests"
cd "$work/tests"
CODEPAGE_GUESS=$tool CODEPAGE_GUESS_SOURCE=$root "$work/venv/bin/python" -m pytest -p no:cacheprovider -v
