#!/usr/bin/env bash
# The Calc add-in in a real headless office: builds the .oxt and what the test needs, then runs
# the test (private profile, private pipe, temporary registry; the office is ended by its
# process-group id). Usage: test-spreadsheet.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
jobs=$(nproc)

if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j "$jobs" --target korvanex_calc_oxt KorvaneX kxregsvr kxauto

# An empty machine registry of this run only: an installed package must not show through.
machine_registry=$(mktemp -d)
trap 'rm -rf "$machine_registry"' EXIT
export KX_MACHINE_REGISTRY_DIR=$machine_registry
# unopkg refuses per-user installs as root; the test installs --shared into a private cache.
KX_BUILD_DIR="$build" timeout -k 10 170 \
  /usr/bin/python3 -m pytest -q -p no:cacheprovider spreadsheet/tests/test_calc_addin.py
