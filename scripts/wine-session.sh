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
# No Mono or Gecko installer prompts while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="

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

  if [[ ! -f "$WINEPREFIX/.quillon-ready" ]]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    # Without a window manager Wine waits about 2 s whenever a managed window
    # closes; unmanaged windows close at once.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.quillon-ready"
  fi
  # -p keeps the server alive between programs until "stop" kills it.
  wineserver -p
}

case "$cmd" in
  start) start "$@" ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
