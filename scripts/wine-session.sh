#!/usr/bin/env bash
# Starts or stops the Wine session the Windows programs run in: a 32-bit
# prefix of the build's own, a virtual display, and a persistent wineserver so
# each program starts in well under a second.
#   wine-session.sh start DIR [--display]   (--display: use $DISPLAY, no Xvfb)
#   wine-session.sh stop DIR
set -euo pipefail

cmd=${1:?start or stop}
dir=$(mkdir -p "${2:?wine directory}" && cd "$2" && pwd)
export WINEPREFIX="$dir/prefix" WINEARCH=win32 WINEDEBUG=-all
# No Mono or Gecko installer prompts, no menu entries, and no debugger that
# would hold a crashed program open.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe,winemenubuilder.exe=d"

stop() {
  if [[ -d "$WINEPREFIX" ]]; then wineserver -k 2>/dev/null || true; fi
  if [[ -f "$dir/xvfb.pid" ]]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid"
  fi
  rm -f "$dir/display"
}

start() {
  stop
  if [[ ${3:-} == --display && -n ${DISPLAY:-} ]]; then
    echo "$DISPLAY" >"$dir/display"
  else
    # Xvfb picks a free display number and writes it to the descriptor.
    Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$dir/xvfb.number" 2>"$dir/xvfb.log" &
    echo $! >"$dir/xvfb.pid"
    for _ in $(seq 100); do
      [[ -s "$dir/xvfb.number" ]] && break
      sleep 0.05
    done
    [[ -s "$dir/xvfb.number" ]] || { echo "wine-session: Xvfb did not start" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
    echo ":$(head -n1 "$dir/xvfb.number")" >"$dir/display"
  fi
  export DISPLAY=$(cat "$dir/display")

  # One persistent server for the whole session: every program after the
  # first starts in well under a second.
  if [[ ! -f "$WINEPREFIX/.quillon-ready" ]]; then
    rm -rf "$WINEPREFIX"
    timeout 600 wineboot -i >"$dir/wineboot.log" 2>&1 || { cat "$dir/wineboot.log" >&2; exit 1; }
    # Windows stay managed (Wine's default), although without a window manager
    # each one takes about 2 s to close: unmanaged windows under qemu-i386
    # die of X errors (BadWindow on unmap) when they close.
    touch "$WINEPREFIX/.quillon-ready"
  fi
  # One persistent server for the whole session, so every program after the
  # first starts in well under a second; then the prefix's services, now
  # rather than inside the first test.
  wineserver -p
  timeout 300 wineboot >>"$dir/wineboot.log" 2>&1 || true
}

case "$cmd" in
  start) start "$@" ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
