#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's private prefix, headless and bounded:
#   wine-run.sh [--32] <build dir> <program.exe> [args...]
# The prefix (<build dir>/wine-prefix, 64-bit) is created on first use; concurrent callers wait
# for it. The system's programs named without a path (regsvr32, reg, cscript) are the 64-bit ones,
# with --32 the 32-bit ones (syswow64). KX_WINE_TIMEOUT (seconds, default 300) bounds each run.
# The program's exit code is returned.
set -euo pipefail
# The 64-bit loader unless --32: with 32-bit Wine installed too, "wine" starts the system's
# programs (cscript, reg, regsvr32) as 32-bit ones, which cannot load a 64-bit DLL.
loader=/usr/lib/wine/wine64
[[ -x $loader ]] || loader=wine
if [[ "${1:-}" == "--32" ]]; then
  shift
  loader=wine
  if [[ ! -x /usr/lib/wine/wine ]]; then
    echo "wine-run.sh: --32 needs Wine's 32-bit loader (wine32:i386)" >&2
    exit 1
  fi
fi
mkdir -p "$1"
build=$(cd "$1" && pwd)
shift
export WINEPREFIX="$build/wine-prefix" WINEARCH=win64 WINEDEBUG=-all
# A crashing program ends with its fault instead of waiting in the debugger.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d" DISPLAY="${KX_WINE_DISPLAY:-}"
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  (
    flock 9
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
      timeout -k 10 300 wine wineboot -i >/dev/null 2>&1
      # Windows without a display: the null graphics driver (message windows, dialogs, the
      # apartment windows of COM) instead of none at all.
      timeout -k 10 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
        >/dev/null 2>&1
      timeout -k 10 120 wineserver -w
    fi
  ) 9>"$build/wine-prefix.lock"
fi
exec timeout -k 10 "${KX_WINE_TIMEOUT:-300}" "$loader" "$@"
