#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
# Usage: install-deps.sh [peer]   ("peer" adds QuantLib for the side-by-side benchmark)
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          nlohmann-json3-dev qt6-base-dev qt6-charts-dev libqt6opengl6-dev fonts-dejavu-core xvfb xauth
          zlib1g-dev
          ccache
          # OCR of the calculator's screenshots (the charts' readability test)
          tesseract-ocr tesseract-ocr-eng
          # Python package: built and tested with Debian's /usr/bin/python3
          python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-pandas
          python3-scipy python3-dask python3-distributed
          # pip install and the wheel (setuptools drives CMake), tested offline in a venv
          python3-venv python3-pip python3-setuptools python3-wheel python3-build
          # Calc add-in and its headless test
          libreoffice-dev libreoffice-calc-nogui python3-uno
          # Fuzzing harnesses (libFuzzer), packages and their checks
          clang libfuzzer-14-dev dpkg-dev fakeroot file lintian desktop-file-utils
          # KorvaneX.dll for Windows (mingw-w64, widl, windres) and its tests under Wine;
          # GoogleTest for the cross build comes from googletest's sources
          g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 wine64-tools googletest
          # The 32-bit KorvaneX.dll and its tests in the 64-bit prefix's 32-bit side (syswow64)
          g++-mingw-w64-i686-posix wine32:i386
          # The Windows calculator's setup program and its test under Wine (typed into by xdotool)
          nsis xdotool)
if [[ "${1:-}" == "peer" ]]; then packages+=(libquantlib0-dev); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd="sudo"; fi
  # wine32 is an i386 package (the apt-get update below reads the architecture's lists).
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo_cmd dpkg --add-architecture i386
  fi
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
