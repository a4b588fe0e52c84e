#!/usr/bin/env bash
# Installs what is missing, builds the release build, registers the component in the user's
# registry and opens the calculator. Arguments are passed on to the calculator.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/preflight.sh 3
bash scripts/install-deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target KorvaneX kxregsvr kxauto Lanternell
# An absolute path, so the registration stays valid from any working folder.
build/release/bin/kxregsvr "$PWD/build/release/lib/KorvaneX.so"

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display here (DISPLAY and WAYLAND_DISPLAY are unset); to open the calculator on a virtual display, run: xvfb-run -a $PWD/build/release/bin/Lanternell"
  exit 0
fi
exec build/release/bin/Lanternell "$@"
