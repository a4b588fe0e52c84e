#!/usr/bin/env bash
# KorvaneX.dll and Lanternell.exe for 64-bit Windows: cross-built with mingw-w64 and tested under
# Wine in private prefixes under the build folder (registration, the C++ and VBScript clients;
# the calculator and the setup program on a private Xvfb each), then the prefixes' Wine servers
# are stopped. Also checks that the reference values the tests compare with are still
# the Linux build's (needs the Linux build: scripts/test.sh makes it first).
#   scripts/test-windows.sh [linux build dir, default build/release]
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=${1:-build/release}
build=build/windows
jobs=$(nproc)

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$jobs"

# The DLL imports only system DLLs and exports exactly the four functions.
objdump=x86_64-w64-mingw32-objdump
imports=$($objdump -p "$build/KorvaneX.dll" | sed -n 's/^\s*DLL Name: //p' | sort | tr '\n' ' ')
expected_imports="ADVAPI32.dll GDI32.dll KERNEL32.dll OLEAUT32.dll USER32.dll msvcrt.dll ole32.dll "
if [[ "$imports" != "$expected_imports" ]]; then
  echo "KorvaneX.dll imports: $imports (expected: $expected_imports)" >&2
  exit 1
fi
# So does the calculator (COMCTL32 for its controls, SHELL32 for the maker's page, comdlg32
# and gdiplus for saving the charts).
imports=$($objdump -p "$build/calculator/win32/Lanternell.exe" | sed -n 's/^\s*DLL Name: //p' | sort | tr '\n' ' ')
expected_imports="COMCTL32.dll GDI32.dll KERNEL32.dll OLEAUT32.dll SHELL32.dll USER32.dll comdlg32.dll gdiplus.dll msvcrt.dll ole32.dll "
if [[ "$imports" != "$expected_imports" ]]; then
  echo "Lanternell.exe imports: $imports (expected: $expected_imports)" >&2
  exit 1
fi
exports=$($objdump -p "$build/KorvaneX.dll" | awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next}
  t && /^[ \t]*\[/ {print $NF; next} t {t=0}' | sort | tr '\n' ' ')
if [[ "$exports" != "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]]; then
  echo "KorvaneX.dll exports: $exports" >&2
  exit 1
fi

# The literals the Windows tests compare with are the Linux build's results.
if [[ -x "$linux_build/bin/kxauto" ]]; then
  registry=$(mktemp -d "${TMPDIR:-/tmp}/kxwinref-XXXXXX")
  trap 'rm -rf "$registry"' EXIT
  export KX_REGISTRY_DIR="$registry" KX_MACHINE_REGISTRY_DIR="$registry/machine"
  "$linux_build/bin/kxregsvr" "$linux_build/lib/KorvaneX.so" >/dev/null
  /usr/bin/python3 tests/windows/reference_values.py "$linux_build/bin/kxauto" --check
  unset KX_REGISTRY_DIR KX_MACHINE_REGISTRY_DIR
fi

# The prefix's Wine server is stopped by its prefix however the tests end.
export WINEPREFIX="$PWD/$build/wine-prefix" WINEDEBUG=-all
stop_wine() {
  local prefix
  for prefix in "$WINEPREFIX" "$PWD/$build/object-tests/wine-prefix"; do
    WINEPREFIX="$prefix" timeout 60 wineserver -k 2>/dev/null || true
  done
}
trap 'stop_wine; rm -rf "${registry:-}"' EXIT
scripts/wine-run.sh "$build" cmd /c exit 0 >/dev/null  # creates the prefix once
ctest --test-dir "$build" --output-on-failure -j "$jobs"
