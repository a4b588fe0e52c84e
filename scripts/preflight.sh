#!/usr/bin/env bash
# Says at once, before anything is installed or built, why this machine cannot run the project's
# scripts, instead of failing half an hour in. Usage: preflight.sh [disk GiB needed]
set -euo pipefail
need_gib=${1:-20}
problems=()

if [[ -r /etc/os-release ]]; then
  . /etc/os-release
  [[ "${ID:-}" == debian && "${VERSION_ID:-}" == 12 ]] ||
    problems+=("this is ${PRETTY_NAME:-an unknown system}; the scripts install Debian 12 (bookworm) packages")
else
  problems+=("no /etc/os-release: the scripts need Debian 12 (bookworm)")
fi
[[ $(uname -m) == x86_64 ]] || problems+=("the machine is $(uname -m); the build needs x86-64")
command -v apt-get >/dev/null || problems+=("apt-get is missing: packages are installed with it")
if [[ $(id -u) -ne 0 ]] && ! sudo -n true 2>/dev/null; then
  problems+=("not root and sudo asks for a password: run as root, or with password-less sudo")
fi
free_kib=$(df -Pk . | awk 'NR == 2 { print $4 }')
if ((free_kib < need_gib * 1024 * 1024)); then
  problems+=("$((free_kib / 1024 / 1024)) GiB free here; the builds need about ${need_gib} GiB")
fi

if ((${#problems[@]})); then
  printf 'Cannot run here:\n' >&2
  printf '  - %s\n' "${problems[@]}" >&2
  exit 1
fi
