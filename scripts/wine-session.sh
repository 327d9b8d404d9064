#!/usr/bin/env bash
# Starts or stops the Wine session the Windows programs run in: a 32-bit
# prefix of the build's own with Windows-metric fonts, a virtual display with
# openbox as its window manager, and a persistent wineserver so each program
# starts in well under a second.
#   wine-session.sh start DIR [--display]   (--display: use $DISPLAY and its
#                                            window manager; no Xvfb, no openbox)
#   wine-session.sh stop DIR
set -euo pipefail

# Whatever runs this (ctest) reads our output until every holder of its pipes
# has closed them, so the display, the window manager and the server, which
# outlive this script, must not inherit any descriptor but the files they are
# given.
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

# The prefix's recipe: a prefix made by an older one is made anew.
prefix_recipe=3

# "MS Sans Serif" with Windows' metrics, and the caption buttons' glyphs;
# without them Wine falls back to a wider face, and an edit box without
# ES_AUTOHSCROLL takes fewer characters than on Windows.
install_fonts() {
  local fonts=/usr/share/wine/fonts f
  for f in "$fonts"/sserife*.fon "$fonts"/marlett.ttf; do
    [[ -f $f ]] || { echo "wine-session: $f is missing (Debian's fonts-wine)" >&2; exit 1; }
    cp -p "$f" "$WINEPREFIX/drive_c/windows/Fonts/"
  done
}

# Written straight into user.reg while no wineserver runs. Decorated=N: Wine
# draws each window's caption and frame itself, as Windows does, and openbox
# only keeps the windows' state (shown, hidden, focused). On a display of the
# user's, its window manager frames Wine's windows as it frames any other.
set_decorated() {
  local reg=$WINEPREFIX/user.reg tmp
  tmp=$(mktemp "$reg.XXXXXX")
  awk '/^\[/ { skip = index($0, "[Software\\\\Wine\\\\X11 Driver]") == 1 } !skip' "$reg" >"$tmp"
  if [[ $1 == N ]]; then
    printf '%s\n' '' '[Software\\Wine\\X11 Driver]' '"Decorated"="N"' >>"$tmp"
  fi
  mv "$tmp" "$reg"
}

stop() {
  if [[ -d "$WINEPREFIX" ]]; then wineserver -k 2>/dev/null || true; fi
  rm -f "$dir/keeper.fifo" "$dir/keeper.log"
  local p
  for p in openbox xvfb; do
    if [[ -f "$dir/$p.pid" ]]; then
      kill "$(cat "$dir/$p.pid")" 2>/dev/null || true
      rm -f "$dir/$p.pid"
    fi
  done
  # The next start's Xvfb empties its number file only once it runs; a number
  # left from this session would be read as the new display's.
  rm -f "$dir/display" "$dir/xvfb.number"
}

# Xvfb, and openbox as its window manager: Wine waits up to 2 s for a window
# manager to take each window it shows or hides. Debian's own configuration
# of openbox, not the user's, so that every machine runs the same one.
start_display() {
  local display
  # Xvfb picks a free display number and writes it to the descriptor.
  Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp </dev/null >"$dir/xvfb.number" 2>"$dir/xvfb.log" &
  echo $! >"$dir/xvfb.pid"
  for _ in $(seq 100); do
    [[ -s "$dir/xvfb.number" ]] && break
    sleep 0.05
  done
  [[ -s "$dir/xvfb.number" ]] || return 1
  display=:$(head -n1 "$dir/xvfb.number")
  echo "$display" >"$dir/display"
  DISPLAY=$display openbox --sm-disable --config-file /etc/xdg/openbox/rc.xml \
    </dev/null >"$dir/openbox.log" 2>&1 &
  echo $! >"$dir/openbox.pid"
  for _ in $(seq 100); do
    DISPLAY=$display xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    kill -0 "$(cat "$dir/openbox.pid")" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Every start ends the last session in DIR first.
start() {
  stop
  own_display=1
  if [[ ${3:-} == --display && -n ${DISPLAY:-} ]]; then
    own_display=0
    echo "$DISPLAY" >"$dir/display"
  else
    # Now and then openbox finds no display at the number Xvfb gave, and a
    # second display comes up whole.
    for try in 1 2 3; do
      start_display && break
      echo "wine-session: no window manager on $(cat "$dir/display" 2>/dev/null) (try $try;" \
        "Xvfb $(kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null && echo running || echo gone)):" >&2
      cat "$dir/xvfb.log" "$dir/openbox.log" >&2
      stop
      [[ $try -lt 3 ]] || exit 1
    done
  fi
  export DISPLAY=$(cat "$dir/display")

  # Making a prefix runs many programs at once, and under qemu-i386 one of
  # them now and then dies; a second try almost always completes.
  local ready=$WINEPREFIX/.quillon-ready
  [[ $(cat "$ready" 2>/dev/null) == "$prefix_recipe" ]] || rm -f "$ready"
  for _ in 1 2 3; do
    [[ -f "$ready" ]] && break
    rm -rf "$WINEPREFIX"
    if timeout 300 wineboot -i </dev/null >"$dir/wineboot.log" 2>&1; then
      echo "$prefix_recipe" >"$ready"
    fi
    # The server that made the prefix lingers a few seconds; wait it out so
    # the persistent one below can start.
    timeout 60 wineserver -w </dev/null >/dev/null 2>&1 || wineserver -k || true
  done
  [[ -f "$ready" ]] || { cat "$dir/wineboot.log" >&2; exit 1; }
  install_fonts
  if [[ $own_display -eq 1 ]]; then set_decorated N; else set_decorated Y; fi

  # One persistent server for the whole session, so every program after the
  # first starts in well under a second; then the prefix's services, now
  # rather than inside the first test.
  wineserver -p </dev/null >>"$dir/wineboot.log" 2>&1
  timeout 60 wineboot </dev/null >>"$dir/wineboot.log" 2>&1 || true

  # The server closes the desktop, and its explorer quits, one second after
  # the last program on it ends, virtual desktop or not; a program starting
  # just then makes no window (natively one test run in three failed so). A
  # program that stays for the whole session keeps the desktop open: cmd,
  # which joins the desktop as it starts and then waits for a line on an empty
  # pipe. Its prompt says it has joined.
  mkfifo "$dir/keeper.fifo"
  wine cmd.exe 0<>"$dir/keeper.fifo" >"$dir/keeper.log" 2>&1 &
  for _ in $(seq 600); do
    grep -q '>' "$dir/keeper.log" 2>/dev/null && break
    sleep 0.1
  done
  grep -q '>' "$dir/keeper.log" || { echo "wine-session: the desktop keeper did not start" >&2; exit 1; }
}

case "$cmd" in
  start) start "$@" ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
