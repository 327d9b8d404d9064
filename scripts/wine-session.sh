#!/usr/bin/env bash
# Starts or stops the Wine session the Windows programs run in: a 32-bit
# prefix of the build's own, a virtual display, and a persistent wineserver so
# each program starts in well under a second.
#   wine-session.sh start DIR [--display]   (--display: use $DISPLAY, no Xvfb)
#   wine-session.sh stop DIR
set -euo pipefail

# Whatever runs this (ctest) reads our output until every holder of its pipes
# has closed them, so the display and the server, which outlive this script,
# must not inherit any descriptor but the files they are given.
for fd in /proc/$$/fd/*; do
  n=${fd##*/}
  if [[ $n -gt 2 ]]; then eval "exec $n>&-" 2>/dev/null || true; fi
done

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
    Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp </dev/null >"$dir/xvfb.number" 2>"$dir/xvfb.log" &
    echo $! >"$dir/xvfb.pid"
    for _ in $(seq 100); do
      [[ -s "$dir/xvfb.number" ]] && break
      sleep 0.05
    done
    [[ -s "$dir/xvfb.number" ]] || { echo "wine-session: Xvfb did not start" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
    echo ":$(head -n1 "$dir/xvfb.number")" >"$dir/display"
  fi
  export DISPLAY=$(cat "$dir/display")

  # Making a prefix runs many programs at once, and under qemu-i386 one of
  # them now and then dies; a second try almost always completes.
  for _ in 1 2 3; do
    [[ -f "$WINEPREFIX/.quillon-ready" ]] && break
    rm -rf "$WINEPREFIX"
    if timeout 300 wineboot -i </dev/null >"$dir/wineboot.log" 2>&1; then
      # Windows stay managed (Wine's default), although without a window
      # manager each one takes about 2 s to close: unmanaged windows under
      # qemu-i386 die of X errors (BadWindow on unmap) when they close.
      touch "$WINEPREFIX/.quillon-ready"
    fi
    # The server that made the prefix lingers a few seconds; wait it out so
    # the persistent one below can start.
    timeout 60 wineserver -w </dev/null >/dev/null 2>&1 || wineserver -k || true
  done
  [[ -f "$WINEPREFIX/.quillon-ready" ]] || { cat "$dir/wineboot.log" >&2; exit 1; }

  # One persistent server for the whole session, so every program after the
  # first starts in well under a second; then the prefix's services, now
  # rather than inside the first test.
  wineserver -p </dev/null >>"$dir/wineboot.log" 2>&1
  timeout 60 wineboot </dev/null >>"$dir/wineboot.log" 2>&1 || true
}

case "$cmd" in
  start) start "$@" ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
