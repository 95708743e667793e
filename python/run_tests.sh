#!/usr/bin/env bash
# The Python module as users get it: a wheel built with Debian's setuptools
# (nothing downloaded), installed into a fresh virtual environment that sees
# Debian's pytest, NumPy and Dask, and tested there, outside the source tree.
# Then the Dask example on a LocalCluster of two worker processes.
#
#   python/run_tests.sh [CODEPAGE_GUESS] [WORK]
#     (defaults: build/release/codepage-guess, build/python)
# The library is found as setup.py says: pkg-config, or build/release.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
tool=$(cd "$(dirname "${1:-$root/build/release/codepage-guess}")" && pwd)/$(basename "${1:-codepage-guess}")
work=$(mkdir -p "${2:-$root/build/python}" && cd "${2:-$root/build/python}" && pwd)
python=/usr/bin/python3  # Debian's, with its packages

echo "-- the wheel"
rm -rf "$work/dist" "$here/build" "$here/src/codepage_guess.egg-info"
(cd "$here" && "$python" -m pip wheel --no-build-isolation --no-deps --quiet -w "$work/dist" .)
wheel=$(ls "$work"/dist/codepage_guess-*.whl)
"$python" -m zipfile -l "$wheel"
rm -rf "$here/build" "$here/src/codepage_guess.egg-info"

echo "-- pip install --no-build-isolation, in a fresh environment"
rm -rf "$work/direct"
"$python" -m venv --system-site-packages "$work/direct"
"$work/direct/bin/pip" install --quiet --no-build-isolation --no-deps "$here"
(cd "$work" && "$work/direct/bin/python" -c 'import codepage_guess; print(codepage_guess.__version__)')
rm -rf "$here/build" "$here/src/codepage_guess.egg-info"

echo "-- the wheel in a fresh environment, and the tests there"
rm -rf "$work/venv" "$work/tests"
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --quiet --no-index "$wheel"
cp -r "$here/tests" "$work/tests"
cd "$work/tests"
CODEPAGE_GUESS=$tool CODEPAGE_GUESS_SOURCE=$root "$work/venv/bin/python" -m pytest -p no:cacheprovider -v
