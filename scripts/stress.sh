#!/usr/bin/env bash
# Builds kx_stress in the release and ThreadSanitizer builds and runs each for a wall time: one
# KvQuantorb called from 8 threads with every method family and Abort calls mixed in, every result
# compared with a one-thread reference, a watchdog for deadlocks. Exits non-zero on a mismatch, a
# deadlock or a race.
#   bash scripts/stress.sh [seconds] [release|tsan|both]        (default: 60 both)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
which=${2:-both}
jobs=$(nproc)

# The worker's one-line traces of stopped computations are left out of the output.
run() {
  local status=0
  "$@" | grep -v '^KorvaneX worker:' || status=${PIPESTATUS[0]}
  return "$status"
}

if [[ $which == release || $which == both ]]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/release -j "$jobs" --target kx_stress
  echo "release build:"
  run build/release/bin/kx_stress --seconds "$seconds" --threads 8
fi

if [[ $which == tsan || $which == both ]]; then
  cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_SANITIZE=thread \
    -DKX_BUILD_CALCULATOR=OFF -DKX_BUILD_BENCH=OFF -DKX_BUILD_PYTHON=OFF >/dev/null
  cmake --build build/tsan -j "$jobs" --target kx_stress
  echo "ThreadSanitizer build:"
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    run build/tsan/bin/kx_stress --seconds "$seconds" --threads 8 --watchdog 600
fi
