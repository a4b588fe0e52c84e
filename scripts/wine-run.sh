#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's private prefix, headless and bounded:
#   wine-run.sh <build dir> <program.exe> [args...]
# The prefix (<build dir>/wine-prefix) is created on first use; concurrent callers wait for it.
# KX_WINE_TIMEOUT (seconds, default 300) bounds each run. The program's exit code is returned.
set -euo pipefail
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
# The 64-bit loader: with 32-bit Wine installed too, "wine" would start the system's programs
# (cscript, reg) as 32-bit ones, which cannot load a 64-bit DLL.
loader=/usr/lib/wine/wine64
[[ -x $loader ]] || loader=wine
exec timeout -k 10 "${KX_WINE_TIMEOUT:-300}" "$loader" "$@"
