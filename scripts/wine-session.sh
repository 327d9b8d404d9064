#!/usr/bin/env bash
# Starts or stops the Wine session the Windows programs run in: a 32-bit
# prefix of the build's own with Windows-metric fonts, a virtual display
# holding one Wine desktop (not under qemu-i386; see under_qemu), and a
# persistent wineserver so each program starts in well under a second.
#   wine-session.sh start DIR [--display]   (--display: use $DISPLAY, no Xvfb,
#                                            windows of their own on it)
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

# The prefix's recipe: a prefix made by an older one is made anew.
prefix_recipe=2

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

# Writes the Explorer keys straight into user.reg while no wineserver runs, so
# the desktop's explorer, whichever program starts it, finds them. With a
# desktop, every window lives inside one X window: closing a window waits for
# no window manager (Xvfb has none, and a managed window takes about 2 s to
# close).
set_desktop() {
  local reg=$WINEPREFIX/user.reg tmp
  tmp=$(mktemp "$reg.XXXXXX")
  awk '/^\[/ { skip = ($1 == "[Software\\\\Wine\\\\Explorer]" ||
                      $1 == "[Software\\\\Wine\\\\Explorer\\\\Desktops]") }
       !skip' "$reg" >"$tmp"
  if [[ $1 == on ]]; then
    printf '%s\n' '' '[Software\\Wine\\Explorer]' '"Desktop"="Default"' '' \
      '[Software\\Wine\\Explorer\\Desktops]' '"Default"="1024x768"' >>"$tmp"
  fi
  mv "$tmp" "$reg"
}

# Under qemu-i386 a new thread dies at once in any process whose ntdll Wine
# could not map at its preferred address ("expect trouble"), and the desktop's
# explorer starts threads: it dies seconds after drawing the desktop, and every
# later window fails with BadWindow, made inside the X window that died with
# it. There the session keeps Wine's own windows, managed: slower to close,
# and nothing depends on explorer.
under_qemu() {
  grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null
}

# The X window of the Wine desktop, once it is shown.
desktop_shown() {
  local id
  id=$(xwininfo -root -tree 2>/dev/null | awk '/"Default - Wine desktop"/ { print $1; exit }')
  [[ -n $id ]] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'
}

stop() {
  if [[ -d "$WINEPREFIX" ]]; then wineserver -k 2>/dev/null || true; fi
  if [[ -f "$dir/wm-state.pid" ]]; then
    kill "$(cat "$dir/wm-state.pid")" 2>/dev/null || true
    rm -f "$dir/wm-state.pid" "$dir/wm-state.log"
  fi
  rm -f "$dir/keeper.fifo" "$dir/keeper.log"
  if [[ -f "$dir/xvfb.pid" ]]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid"
  fi
  rm -f "$dir/display"
}

start() {
  stop
  use_display=0
  if [[ ${3:-} == --display && -n ${DISPLAY:-} ]]; then
    use_display=1
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
  use_desktop=1
  if [[ $use_display -eq 1 ]] || under_qemu; then use_desktop=0; fi
  if [[ $use_desktop -eq 1 ]]; then set_desktop on; else set_desktop off; fi
  # Without a desktop on our own display, Wine's windows are top-level X
  # windows with no window manager to see them shown or hidden, and each
  # waits 2 s for one; wm-state.py answers for it.
  if [[ $use_desktop -eq 0 && $use_display -eq 0 ]]; then
    "$(dirname "$0")/wm-state.py" </dev/null >"$dir/wm-state.log" 2>&1 &
    echo $! >"$dir/wm-state.pid"
    for _ in $(seq 100); do
      grep -q watching "$dir/wm-state.log" && break
      sleep 0.05
    done
    grep -q watching "$dir/wm-state.log" || { cat "$dir/wm-state.log" >&2; exit 1; }
  fi

  # One persistent server for the whole session, so every program after the
  # first starts in well under a second; then the prefix's services, now
  # rather than inside the first test.
  wineserver -p </dev/null >>"$dir/wineboot.log" 2>&1
  timeout 60 wineboot </dev/null >>"$dir/wineboot.log" 2>&1 || true

  # The server closes a desktop, and its explorer quits, one second after the
  # last program on it ends. A program starting just then lands on a desktop
  # that is going away, and every window it makes fails; one starting later
  # waits for a new explorer. A program that stays for the whole session
  # keeps the desktop open: cmd, which joins the desktop as it starts and then
  # waits for a line on an empty pipe. Its prompt says it has joined.
  mkfifo "$dir/keeper.fifo"
  wine cmd.exe 0<>"$dir/keeper.fifo" >"$dir/keeper.log" 2>&1 &
  for _ in $(seq 600); do
    grep -q '>' "$dir/keeper.log" 2>/dev/null && break
    sleep 0.1
  done
  grep -q '>' "$dir/keeper.log" || { echo "wine-session: the desktop keeper did not start" >&2; exit 1; }

  # The desktop's explorer, as Wine would start it for the first window; it
  # leaves at once when the desktop has one already. The first program then
  # finds the desktop ready.
  wine explorer.exe /desktop </dev/null >>"$dir/wineboot.log" 2>&1 &
  if [[ $use_desktop -eq 1 ]]; then
    for _ in $(seq 600); do
      desktop_shown && break
      sleep 0.1
    done
    desktop_shown || { echo "wine-session: no Wine desktop on $DISPLAY" >&2; exit 1; }
  fi
}

case "$cmd" in
  start) start "$@" ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
