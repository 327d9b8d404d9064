#!/usr/bin/env bash
# Runs a Windows program in the session that wine-session.sh started.
#   wine-run.sh DIR PROGRAM [ARGS...]
set -euo pipefail
dir=$(cd "${1:?wine directory}" && pwd)
shift
export WINEPREFIX="$dir/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe,winemenubuilder.exe=d"
export DISPLAY=$(cat "$dir/display" 2>/dev/null || echo "${DISPLAY:-}")
exec wine "$@"
