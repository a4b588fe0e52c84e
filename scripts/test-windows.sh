#!/usr/bin/env bash
# KorvaneX.dll for 64-bit and 32-bit Windows and Lanternell.exe (64-bit): cross-built with
# mingw-w64 and tested under Wine in private 64-bit prefixes under the build folders (registration,
# the C++ and VBScript clients, the component's tests; the 32-bit ones by the prefix's 32-bit
# system programs; the calculator and the setup program with both DLLs on a private Xvfb each),
# then the prefixes' Wine servers are stopped. Also checks that the reference values the tests
# compare with are still the Linux build's (needs the Linux build: scripts/test.sh makes it first).
#   scripts/test-windows.sh [linux build dir, default build/release]
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=${1:-build/release}
build=build/windows
build32=build/windows32
jobs=$(nproc)

# The 32-bit tree first: the 64-bit tree's setup program takes its DLL.
cmake -S . -B "$build32" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build32" -j "$jobs"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DKX_DLL32="$PWD/$build32/KorvaneX.dll" >/dev/null
cmake --build "$build" -j "$jobs"

# check_imports <objdump> <file> <expected DLL names, sorted, space-separated>
check_imports() {
  local imports
  imports=$($1 -p "$2" | sed -n 's/^\s*DLL Name: //p' | sort | tr '\n' ' ')
  if [[ "$imports" != "$3 " ]]; then
    echo "$2 imports: $imports (expected: $3)" >&2
    exit 1
  fi
}
# Both DLLs import only system DLLs and export exactly the four functions, undecorated (the
# 32-bit linker would name a __stdcall function DllGetClassObject@12).
for dll in "x86_64-w64-mingw32-objdump $build/KorvaneX.dll" \
           "i686-w64-mingw32-objdump $build32/KorvaneX.dll"; do
  read -r objdump file <<<"$dll"
  check_imports "$objdump" "$file" \
    "ADVAPI32.dll GDI32.dll KERNEL32.dll OLEAUT32.dll USER32.dll msvcrt.dll ole32.dll"
  exports=$($objdump -p "$file" | awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next}
    t && /^[ \t]*\[/ {print $NF; next} t {t=0}' | sort | tr '\n' ' ')
  if [[ "$exports" != "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]]; then
    echo "$file exports: $exports" >&2
    exit 1
  fi
done
# So does the calculator (COMCTL32 for its controls, SHELL32 for the maker's page, comdlg32
# and gdiplus for saving the charts).
check_imports x86_64-w64-mingw32-objdump "$build/calculator/win32/Lanternell.exe" \
  "COMCTL32.dll GDI32.dll KERNEL32.dll OLEAUT32.dll SHELL32.dll USER32.dll comdlg32.dll gdiplus.dll msvcrt.dll ole32.dll"

# The literals the Windows tests compare with are the Linux build's results.
if [[ -x "$linux_build/bin/kxauto" ]]; then
  registry=$(mktemp -d "${TMPDIR:-/tmp}/kxwinref-XXXXXX")
  trap 'rm -rf "$registry"' EXIT
  export KX_REGISTRY_DIR="$registry" KX_MACHINE_REGISTRY_DIR="$registry/machine"
  "$linux_build/bin/kxregsvr" "$linux_build/lib/KorvaneX.so" >/dev/null
  /usr/bin/python3 tests/windows/reference_values.py "$linux_build/bin/kxauto" --check
  unset KX_REGISTRY_DIR KX_MACHINE_REGISTRY_DIR
fi

# The prefixes' Wine servers are stopped by their prefixes however the tests end.
export WINEDEBUG=-all
stop_wine() {
  local prefix
  for prefix in "$PWD/$build/wine-prefix" "$PWD/$build/object-tests/wine-prefix" \
                "$PWD/$build32/wine-prefix" "$PWD/$build32/object-tests/wine-prefix"; do
    WINEPREFIX="$prefix" timeout 60 wineserver -k 2>/dev/null || true
  done
}
trap 'stop_wine; rm -rf "${registry:-}"' EXIT
scripts/wine-run.sh "$build" cmd /c exit 0 >/dev/null  # creates the prefixes once
scripts/wine-run.sh --32 "$build32" cmd /c exit 0 >/dev/null
ctest --test-dir "$build" --output-on-failure -j "$jobs"
ctest --test-dir "$build32" --output-on-failure -j "$jobs"
