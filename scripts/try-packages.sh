#!/usr/bin/env bash
# Installs the Debian packages on this machine (as root), uses them as a user would, then purges
# them and checks that nothing is left behind. Prints "N passed, N failed".
#  - the calculator's menu command under a virtual display, for a few seconds;
#  - kxauto from the PATH with an empty per-user registry (the machine's registration only);
#  - the Python package from /usr/bin/python3, when it was packaged;
#  - the example consumer examples/cpp, built against the installed -dev package with CMake,
#    and the same source with pkg-config.
# Usage: try-packages.sh [build-dir]   (default build/package; builds the packages if missing)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/package}
dir=$build/packages
machine_dir=/var/lib/kx-platform
if [[ $(id -u) -ne 0 ]]; then
  echo "try-packages.sh installs packages: run it as root" >&2
  exit 2
fi
ls "$dir"/*.deb >/dev/null 2>&1 || bash scripts/build-packages.sh "$build" || exit 1
mapfile -t debs < <(ls "$dir"/*.deb)
mapfile -t names < <(for d in "${debs[@]}"; do dpkg-deb -f "$d" Package; done)
for p in "${names[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q installed; then
    echo "$p is installed already: purge it first (apt-get purge ${names[*]})" >&2
    exit 2
  fi
done
if [[ -e $machine_dir ]]; then
  echo "$machine_dir exists already: this check needs a machine without it" >&2
  exit 2
fi

passed=0
failed=0
check() {  # check <what> <command...>
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
  fi
}
tmp=$(mktemp -d)
installed=0
purge() {
  ((installed)) || return 0
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${names[@]}" >"$tmp/purge.log" 2>&1
  installed=0
}
trap 'purge; rm -rf "$tmp"' EXIT

# Auto-installed dependencies that are new go again at the end.
apt-mark showauto | sort >"$tmp/auto-before"
dpkg-query -W -f='${Package}\n' | sort >"$tmp/packages-before"
echo "Installing: ${names[*]}"
installed=1
if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${debs[@]/#/$root/}" >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log"
  exit 1
fi
for p in "${names[@]}"; do dpkg -L "$p" >>"$tmp/files"; done

check "the machine's registry has the class" grep -q '"Korvane.Quantorb"' \
  $machine_dir/registry/registry.kxr
check "the machine's registry is readable by every user" \
  test "$(stat -c %a $machine_dir/registry/registry.kxr)" = 644

user_registry=$tmp/user-registry
mkdir -p "$user_registry"
export KX_REGISTRY_DIR=$user_registry
unset KX_MACHINE_REGISTRY_DIR

# kxauto from the PATH, nothing registered for this user.
out=$(cd / && timeout 60 kxauto Korvane.Quantorb BSCallPrice 100 100 0.05 1 0.2 0 2>&1)
check "kxauto prices through the machine's registration" grep -q 'CPrice = 10.45057561932' <<<"$out"
[[ $out == *"CPrice = 10.45057561932"* ]] || echo "$out"
check "kxregsvr --version" bash -c "kxregsvr --version | grep -q '^kxregsvr [0-9]'"
check "manual page found" bash -c "man -w kxregsvr >/dev/null"

# The calculator, started by its menu command under a virtual display: it must come up with the
# component loaded from the machine's registration; then it is stopped by its process id.
exec_cmd=$(sed -n 's/^Exec=//p' /usr/share/applications/lanternell.desktop)
check "menu entry's command is on the PATH" bash -c "command -v '$exec_cmd' >/dev/null"
(cd / && exec timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" \
   sh -c 'echo $$ >"$1"; exec "$2"' sh "$tmp/calculator.pid" "$exec_cmd" \
   >"$tmp/calculator.log" 2>&1) &
runner=$!
loaded=0
for _ in $(seq 1 60); do
  pid=$(cat "$tmp/calculator.pid" 2>/dev/null)
  if [[ -n $pid ]] && grep -q '/korvanex/KorvaneX.so' "/proc/$pid/maps" 2>/dev/null; then
    loaded=1
    break
  fi
  kill -0 "$runner" 2>/dev/null || break
  sleep 0.5
done
alive=0
[[ -n ${pid:-} ]] && kill -0 "$pid" 2>/dev/null && alive=1
check "calculator is running" test "$alive" -eq 1
check "calculator loaded the component" test "$loaded" -eq 1
[[ -n ${pid:-} ]] && kill "$pid" 2>/dev/null
wait "$runner"
((loaded)) || cat "$tmp/calculator.log"

# Python, from Debian's interpreter, away from the source tree.
if printf '%s\n' "${names[@]}" | grep -qx python3-korvanex; then
  out=$(cd / && timeout 60 /usr/bin/python3 -c \
    'import korvanex, korvanex._native; print(korvanex.__file__)' 2>&1)
  check "python imports the installed package" \
    grep -q '^/usr/lib/python3/dist-packages/korvanex/__init__.py$' <<<"$out"
  [[ $out == /usr/lib/python3/dist-packages/* ]] || echo "$out"
fi

# A C++ program of one's own, against the installed -dev package.
if cmake -S examples/cpp -B "$tmp/example" -G Ninja -DCMAKE_BUILD_TYPE=Release \
     >"$tmp/example.log" 2>&1 && cmake --build "$tmp/example" >>"$tmp/example.log" 2>&1; then
  check "example built with find_package(KorvaneX)" true
  check "example finds the installed package" \
    grep -q "KorvaneX_DIR:PATH=/usr/lib/.*/cmake/KorvaneX" "$tmp/example/CMakeCache.txt"
  out=$(cd / && timeout 60 "$tmp/example/quantorb_client" 2>&1)
  check "example creates Korvane.Quantorb and calls it" test $? -eq 0
  echo "$out"
else
  check "example built with find_package(KorvaneX)" false
  cat "$tmp/example.log"
fi
# shellcheck disable=SC2046
if g++ -std=c++20 examples/cpp/quantorb_client.cpp $(pkg-config --cflags --libs korvanex) \
     -o "$tmp/pc_client" 2>"$tmp/pc.log"; then
  check "example built with pkg-config runs" bash -c "cd / && timeout 60 '$tmp/pc_client' >/dev/null"
else
  check "example built with pkg-config" false
  cat "$tmp/pc.log"
fi
check "nothing was registered for the user" test -z "$(ls -A "$user_registry")"

# Purge, then nothing of ours may be left.
purge
check "purged" bash -c "! grep -q 'install ok installed' < <(dpkg-query -W -f='\${Status}\n' ${names[*]} 2>/dev/null)"
left=$(sort -u "$tmp/files" | while read -r f; do [[ -f $f || -L $f ]] && echo "$f"; done)
check "no installed file left" test -z "$left"
[[ -z $left ]] || echo "$left"
check "no machine registry left" test ! -e $machine_dir
check "library gone from the loader's cache" bash -c "! ldconfig -p | grep -q libkx_platform"
apt-mark showauto | sort >"$tmp/auto-after"
mapfile -t new_auto < <(comm -13 "$tmp/auto-before" "$tmp/auto-after" |
  grep -Fxf <(dpkg-query -W -f='${Package}\n' | sort | comm -13 "$tmp/packages-before" -))
if ((${#new_auto[@]})); then
  echo "Removing the dependencies this run installed: ${new_auto[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${new_auto[@]}" >/dev/null 2>&1
fi
check "no package of this run left" \
  bash -c "comm -13 '$tmp/packages-before' <(dpkg-query -W -f='\${Package}\n' | sort) | grep -q . && exit 1 || exit 0"

echo "$passed passed, $failed failed"
((failed == 0))
