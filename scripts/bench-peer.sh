#!/usr/bin/env bash
# Our models side by side with QuantLib on this machine: installs QuantLib if it is missing,
# builds the comparison in release mode (build/peer) and runs it. An argument (tree, greeks, bs,
# bje or skew) runs one group only. Run it on an otherwise idle machine: other processes take time
# from both sides, and from the second thread most of all.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh peer

cmake -S . -B build/peer -G Ninja -DCMAKE_BUILD_TYPE=Release -DKX_BUILD_PEER_BENCH=ON \
  -DKX_BUILD_TESTS=OFF -DKX_BUILD_CALCULATOR=OFF >/dev/null
cmake --build build/peer --target peer_bench -j "$(nproc)"
build/peer/bin/peer_bench "$@"
