#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
# the release build with Python, Windows (under Wine), Calc and the packages, then the sanitizer
# builds of the layers that own threads and memory.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/preflight.sh 8
bash scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

# The Python package, with Debian's interpreter, against the release build.
KX_BUILD_DIR=build/release PYTHONPATH=build/release/python \
  timeout -k 10 600 /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests

# KorvaneX.dll for Windows, cross-built and tested under Wine, against the release build's values.
bash scripts/test-windows.sh build/release

# The Calc add-in in a real headless office.
bash scripts/test-spreadsheet.sh build/release

# The Debian packages: built from their own /usr build, their contents, metadata and lintian.
bash scripts/build-packages.sh
bash scripts/test-packages.sh

# AddressSanitizer and UndefinedBehaviorSanitizer over the non-GUI layers.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_SANITIZE=address,undefined \
  -DKX_BUILD_CALCULATOR=OFF -DKX_BUILD_BENCH=OFF -DKX_BUILD_PYTHON=OFF >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs" -L sanitize

# ThreadSanitizer over the layers where a second thread runs.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_SANITIZE=thread \
  -DKX_BUILD_CALCULATOR=OFF -DKX_BUILD_BENCH=OFF -DKX_BUILD_PYTHON=OFF >/dev/null
cmake --build build/tsan -j "$jobs"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L threads
