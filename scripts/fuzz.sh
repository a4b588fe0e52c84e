#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build/fuzz and fuzzes one harness, or each in turn, starting from its seed corpus.
# Usage: scripts/fuzz.sh [harness|all] [seconds per harness, default 300]
# New inputs go to build/fuzz/corpus/<harness>; a crash is written to build/fuzz/findings/.
# Keep a crash as fuzz/regressions/<harness>/<name> once it is fixed: the test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

harness="${1:-all}"
seconds="${2:-300}"
all=(dispatch persistence registry_file regscript typelib_text resource_script bmp
     variant_safearray kxauto_json)

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKX_BUILD_FUZZERS=ON -DKX_SANITIZE=address,undefined -DKX_BUILD_TESTS=OFF \
  -DKX_BUILD_CALCULATOR=OFF -DKX_BUILD_BENCH=OFF -DKX_BUILD_PYTHON=OFF >/dev/null

if [[ "$harness" == all ]]; then targets=("${all[@]}"); else targets=("$harness"); fi
cmake --build build/fuzz -j "$(nproc)" --target "${targets[@]/%/_fuzzer}"

export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for h in "${targets[@]}"; do
  work="build/fuzz/corpus/$h"
  mkdir -p "$work" build/fuzz/findings
  seeds=(fuzz/corpus/"$h")
  [[ -d fuzz/regressions/$h ]] && seeds+=(fuzz/regressions/"$h")
  # The text surfaces start from whole files of the module (the type library is 20 kB).
  max_len=4096
  [[ $h == typelib_text || $h == resource_script ]] && max_len=32768
  echo "== $h: ${seconds}s"
  # One process, one job: the machine is shared.
  build/fuzz/bin/"${h}_fuzzer" "$work" "${seeds[@]}" \
    -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -max_len="$max_len" \
    -artifact_prefix="build/fuzz/findings/${h}-" -print_final_stats=1
done
