#!/usr/bin/env bash
# Checks the Debian packages that build-packages.sh made: names, metadata, contents, the desktop
# entry, run paths, and lintian (no errors). Prints "N passed, N failed".
# Usage: test-packages.sh [build-dir]   (default build/package)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/package}
dir=$build/packages
passed=0
failed=0
check() {  # check <what> <command...>
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
  fi
}

version=$(sed -n 's/^project(KorvaneX VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)-1
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
required=(libkx-platform1 korvanex-dev korvanex kx-tools lanternell)
optional=()
[[ -n $(ls "$build"/python/korvanex/_native*.so 2>/dev/null) ]] && required+=(python3-korvanex)
[[ -f $build/korvanex-calc.oxt ]] && required+=(korvanex-calc)

deb() { echo "$dir/${1}_${version}_${arch}.deb"; }
contents() { dpkg-deb -c "$(deb "$1")" | awk '{print $6}' | sed 's|^\./|/|'; }
has() { contents "$1" | grep -qx -- "$2"; }
field() { dpkg-deb -f "$(deb "$1")" "$2"; }

for p in "${required[@]}"; do
  check "$p: package built" test -f "$(deb "$p")"
  [[ -f $(deb "$p") ]] || continue
  check "$p: version $version" test "$(field "$p" Version)" = "$version"
  check "$p: maintainer" grep -q '@' <<<"$(field "$p" Maintainer)"
  check "$p: description with a long part" test "$(field "$p" Description | wc -l)" -ge 2
  check "$p: copyright" has "$p" "/usr/share/doc/$p/copyright"
  check "$p: changelog" has "$p" "/usr/share/doc/$p/changelog.Debian.gz"
  check "$p: nothing outside /usr" bash -c "! dpkg-deb -c '$(deb "$p")' | awk '{print \$6}' | grep -v '^\./usr/' | grep -v '^\./$'"
done
[[ ${#required[@]} -gt 5 ]] || echo "note: no Python package or Calc extension built; not checked"

lib=/usr/lib/$multiarch
check "platform library and its soname" has libkx-platform1 "$lib/libkx_platform.so.1"
check "platform library: no development link" bash -c "! dpkg-deb -c '$(deb libkx-platform1)' | grep -q 'libkx_platform.so '"
check "platform library: ldconfig trigger" bash -c "dpkg-deb -I '$(deb libkx-platform1)' triggers | grep -q 'activate-noawait ldconfig'"
check "shlibs names the library package" bash -c "dpkg-deb -I '$(deb libkx-platform1)' shlibs | grep -q 'libkx_platform 1 libkx-platform1'"
check "component module" has korvanex "$lib/korvanex/KorvaneX.so"
for script in postinst prerm postrm; do
  check "component $script" bash -c "dpkg-deb -I '$(deb korvanex)' $script | grep -q kx"
done
check "component registers for the machine" bash -c "dpkg-deb -I '$(deb korvanex)' postinst | grep -q 'kxregsvr --machine $lib/korvanex/KorvaneX.so'"
check "component depends on the library and the tools" bash -c "field() { dpkg-deb -f '$(deb korvanex)' Depends; }; field | grep -q libkx-platform1 && field | grep -q kx-tools"
check "shared library dependencies worked out (libc6)" bash -c "dpkg-deb -f '$(deb kx-tools)' Depends | grep -q libc6"
check "calculator depends on Qt" bash -c "dpkg-deb -f '$(deb lanternell)' Depends | grep -q libqt6widgets6"
for tool in kxauto kxregsvr; do
  check "$tool installed" has kx-tools "/usr/bin/$tool"
done
check "kxregsvr manual page" has kx-tools /usr/share/man/man1/kxregsvr.1.gz
[[ -f docs/man/kxauto.1 ]] && check "kxauto manual page" has kx-tools /usr/share/man/man1/kxauto.1.gz
check "calculator program" has lanternell /usr/bin/Lanternell
check "calculator manual page" has lanternell /usr/share/man/man1/Lanternell.1.gz
check "desktop entry" has lanternell /usr/share/applications/lanternell.desktop
for size in 16 32 48 64 128 256; do
  check "icon ${size}x${size}" has lanternell "/usr/share/icons/hicolor/${size}x${size}/apps/lanternell.png"
done
for f in /usr/include/kx/platform/activation.h /usr/include/kx/platform/registry.h \
         /usr/include/korvanex/ikvquantorb.h "$lib/libkx_platform.so" \
         "$lib/cmake/KorvaneX/KorvaneXConfig.cmake" "$lib/cmake/KorvaneX/KorvaneXConfigVersion.cmake" \
         "$lib/cmake/KorvaneX/KorvaneXTargets.cmake" "$lib/pkgconfig/korvanex.pc"; do
  check "dev: $f" has korvanex-dev "$f"
done
if [[ -f $(deb python3-korvanex) ]]; then
  check "python: package in dist-packages" has python3-korvanex /usr/lib/python3/dist-packages/korvanex/__init__.py
  check "python: extension" bash -c "dpkg-deb -c '$(deb python3-korvanex)' | grep -q 'dist-packages/korvanex/_native.*\.so'"
fi
if [[ -f $(deb korvanex-calc) ]]; then
  check "calc: extension file" has korvanex-calc /usr/share/korvanex/korvanex-calc.oxt
fi

# Unpacked: the desktop entry validates, no binary carries a run path, the pkg-config file
# and the CMake package point at /usr.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for p in "${required[@]}"; do [[ -f $(deb "$p") ]] && dpkg-deb -x "$(deb "$p")" "$tmp"; done
check "desktop-file-validate" desktop-file-validate "$tmp/usr/share/applications/lanternell.desktop"
runpaths=$(find "$tmp" -type f \( -name '*.so*' -o -perm -u+x \) -exec sh -c \
  'file -b "$1" | grep -q ELF && readelf -d "$1" | grep -E "RPATH|RUNPATH" && echo "$1"' _ {} \; 2>/dev/null)
check "no run paths in installed binaries" test -z "$runpaths"
[[ -z $runpaths ]] || echo "$runpaths"
check "pkg-config file" bash -c "PKG_CONFIG_SYSROOT_DIR= PKG_CONFIG_PATH='$tmp$lib/pkgconfig' pkg-config --modversion korvanex | grep -qx '${version%-1}'"
check "CMake targets name the installed library" grep -q "libkx_platform.so.1" "$tmp$lib/cmake/KorvaneX/KorvaneXTargets-release.cmake"

# lintian: no errors; its warnings are printed.
lint=$(lintian --tag-display-limit 0 "$dir"/*.deb 2>&1 | grep -v 'running with root privileges')
echo "$lint" | grep -E '^[WE]:' || true
check "lintian reports no errors" bash -c "! grep -q '^E:' <<<'$lint'"

echo "$passed passed, $failed failed"
((failed == 0))
