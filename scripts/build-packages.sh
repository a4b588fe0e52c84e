#!/usr/bin/env bash
# Builds the Debian packages from a release build installed under /usr.
# Usage: build-packages.sh [build-dir]   (default build/package; packages land in <build-dir>/packages)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/package}
bash scripts/install-deps.sh
# Read-only relocations and immediate binding, as Debian builds its own binaries.
hardening="-Wl,-z,relro -Wl,-z,now"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF \
  -DCMAKE_EXE_LINKER_FLAGS="$hardening" -DCMAKE_SHARED_LINKER_FLAGS="$hardening" \
  -DCMAKE_MODULE_LINKER_FLAGS="$hardening" >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
ls -1 "$build"/packages/*.deb
