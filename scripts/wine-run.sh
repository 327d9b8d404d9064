#!/usr/bin/env bash
# Runs a Windows program in the session that wine-session.sh started.
#   wine-run.sh DIR PROGRAM [ARGS...]
set -euo pipefail
dir=${1:?wine directory}
shift
export WINEPREFIX="$dir/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=$(cat "$dir/display" 2>/dev/null || echo "${DISPLAY:-}")
exec wine "$@"
