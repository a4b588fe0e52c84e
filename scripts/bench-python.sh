#!/usr/bin/env bash
# korvanex.models against numpy/scipy, a plain C++ loop and the peer benchmark's figures, all
# ratios measured in one run (bench/python/bench_models.py; arguments are passed on, --help lists
# them). Builds the release package first. Run it on an otherwise idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target kx_python -j "$(nproc)"
PYTHONPATH="$PWD/build/release/python${PYTHONPATH:+:$PYTHONPATH}" \
  /usr/bin/python3 bench/python/bench_models.py "$@"
