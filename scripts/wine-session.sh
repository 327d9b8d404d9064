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
prefix_recipe=4

# "MS Sans Serif" with Windows' metrics, and the caption buttons' glyphs;
# without them Wine falls back to a wider face, and an edit box without
# ES_AUTOHSCROLL takes fewer characters than on Windows. Both sets of the
# face, as Windows has them: sserife for 96 dpi and sseriff for larger DPIs,
# without which a prefix set to 144 dpi cuts the dialog's texts short.
install_fonts() {
  local fonts=/usr/share/wine/fonts f
  for f in "$fonts"/sserife*.fon "$fonts"/sseriff*.fon "$fonts"/marlett.ttf; do
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

# Ends every process of this prefix: the server and its clients, then whatever
# still runs with this WINEPREFIX (a program that hung before it reached the
# server, a server that no longer answers). Not the session's display and
# window manager, which inherited the same environment, nor this script and
# its callers.
end_prefix() {
  timeout -k 5 20 wineserver -k </dev/null >/dev/null 2>&1 || true
  local keep=" " pid=$$ key value d var
  while [[ $pid -gt 1 ]]; do
    keep+="$pid "
    value=1
    while read -r key value; do
      [[ $key == PPid: ]] && break
    done <"/proc/$pid/status" || break
    pid=$value
  done
  keep+="$(cat "$dir/xvfb.pid" "$dir/openbox.pid" 2>/dev/null | tr '\n' ' ')"
  for d in /proc/[0-9]*; do
    pid=${d#/proc/}
    [[ $keep == *" $pid "* ]] && continue
    { while IFS= read -r -d '' var; do
      if [[ $var == "WINEPREFIX=$WINEPREFIX" ]]; then
        kill -9 "$pid" 2>/dev/null || true
        break
      fi
    done; } 2>/dev/null <"$d/environ" || true
  done
}

# Tenths of a second since a time taken from $EPOCHREALTIME, as "12.3 s".
since() {
  local t=$(((${EPOCHREALTIME/./} - ${1/./}) / 100000))
  echo "$((t / 10)).$((t % 10)) s"
}

# Keys a whole build writes, each from another part of it: wine.inf's own
# entries for the machine and for the user, the registration of the last
# program wine.inf lists (iexplore.exe), and the mount manager, a driver that
# runs only once the build has started its services. A build in which one of
# Wine's processes died can still end with success and lack some of them.
prefix_keys=(
  'system.reg [Software\\Microsoft\\Windows NT\\CurrentVersion\\SvcHost]'
  'user.reg [Software\\Microsoft\\Windows\\CurrentVersion\\ThemeManager]'
  'system.reg [Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\iexplore.exe]'
  'system.reg [Software\\Wine\\Ports]'
)

# Read once the server that made the prefix has ended: it writes the registry
# to disk as it exits.
check_registry() {
  local entry missing=()
  for entry in "${prefix_keys[@]}"; do
    grep -qF -- "${entry#* } " "$WINEPREFIX/${entry%% *}" 2>/dev/null || missing+=("$entry")
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  {
    echo "wine-session: the new prefix $WINEPREFIX is damaged: its build ended"
    echo "wine-session: with success, but these registry keys of a whole build are missing:"
    printf 'wine-session:   %s\n' "${missing[@]}"
    echo "wine-session: One of Wine's processes died while it was made. Under qemu-i386,"
    echo "wine-session: qemu 10 or later is needed (run scripts/setup.sh as root once)."
  } >&2
  exit 1
}

stop() {
  if [[ -d "$WINEPREFIX" ]]; then wineserver -k 2>/dev/null || true; fi
  rm -f "$dir/keeper.fifo" "$dir/keeper.log"
  stop_display
  rm -f "$dir/cpu" "$pin_file"
}

stop_display() {
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
  # Xvfb picks a free display number and writes it to the descriptor. No
  # GLX: nothing here draws with OpenGL, and loading it is most of Xvfb's start.
  Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp -extension GLX </dev/null >"$dir/xvfb.number" 2>"$dir/xvfb.log" &
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
  # Polled for 10 s by the clock, not by a count of polls, so a slow poll
  # does not cut the wait short.
  local deadline=$((SECONDS + 10))
  while ((SECONDS < deadline)); do
    # Each look has a time limit too: now and then an X program that connects
    # while the window manager holds the display is never read from again by
    # Xvfb, which goes on answering every other program.
    DISPLAY=$display timeout 2 xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null |
      grep -q 'window id' && return 0
    kill -0 "$(cat "$dir/openbox.pid")" 2>/dev/null || return 1
    sleep 0.02
  done
  return 1
}

# A session's processes all run on one CPU: the server, its clients, the
# display and the window manager. Nearly every call a Wine program makes is a
# round trip to its server, or to the display; between processes on two CPUs
# each trip wakes the other CPU, and on a virtual machine with idle CPUs that
# wake is slow (a dialog test took 3 to 4 times as long). Each session takes
# the allowed CPU that the fewest running sessions hold, so sessions started
# side by side spread over the CPUs. The pins are files in $pins, named by
# the session's folder and holding its CPU and the folder; stop removes them.
pins=${TMPDIR:-/tmp}/quillon-wine-cpus
pin_file=$pins/${dir//\//%}

pin_session() {
  local range from to cpu f pinned folder held allowed=() best= fewest=
  mkdir -p "$pins"
  # One start at a time chooses, so two cannot take the same CPU.
  {
    flock 9
    IFS=, read -ra range < <(awk '/^Cpus_allowed_list:/ { print $2 }' /proc/$$/status)
    for range in "${range[@]}"; do
      from=${range%-*} to=${range#*-}
      for ((cpu = from; cpu <= to; cpu++)); do allowed+=("$cpu"); done
    done
    for cpu in "${allowed[@]}"; do
      held=0
      for f in "$pins"/*; do
        [[ -f $f ]] || continue # the pattern itself, in an empty folder
        { read -r pinned; read -r folder; } <"$f" || true
        # A session whose folder has gone holds nothing.
        [[ -f $folder/cpu ]] || { rm -f "$f"; continue; }
        [[ $pinned == "$cpu" ]] && held=$((held + 1))
      done
      if [[ -z $fewest ]] || ((held < fewest)); then best=$cpu fewest=$held; fi
    done
    echo "$best" >"$dir/cpu"
    printf '%s\n' "$best" "$dir" >"$pin_file"
  } 9>"$pins/.lock"
  taskset -p -c "$best" $$ >/dev/null
}

# Every start ends the last session in DIR first.
start() {
  stop
  pin_session
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
      sed 's/^/wine-session:   /' "$dir/xvfb.log" "$dir/openbox.log" >&2
      stop_display
      [[ $try -lt 3 ]] || exit 1
    done
  fi
  export DISPLAY=$(cat "$dir/display")

  # Making a prefix runs many programs at once, and under emulation one of
  # them can hang, and wineboot with it. A whole build takes 15-35 s there, so
  # the first try is given up after 60 s; the later ones get more, for a
  # machine that is only slow.
  local ready=$WINEPREFIX/.quillon-ready try=0 limit status started
  [[ $(cat "$ready" 2>/dev/null) == "$prefix_recipe" ]] || rm -f "$ready"
  [[ -f "$ready" ]] || : >"$dir/wineboot.log"
  for limit in 60 180 300; do
    [[ -f "$ready" ]] && break
    try=$((try + 1))
    rm -rf "$WINEPREFIX"
    echo "== try $try (${limit} s)" >>"$dir/wineboot.log"
    started=$EPOCHREALTIME
    status=0
    timeout -k 5 "$limit" wineboot -i </dev/null >>"$dir/wineboot.log" 2>&1 || status=$?
    if [[ $status -ne 0 ]]; then
      if [[ $status -eq 124 || $status -eq 137 ]]; then
        echo "wine-session: making the prefix, try $try: no end after $(since "$started")" >&2
      else
        echo "wine-session: making the prefix, try $try: failed (status $status) after $(since "$started")" >&2
      fi
      # What still runs of a failed build keeps its server alive; waiting for
      # the server would wait for them.
      end_prefix
      continue
    fi
    echo "wine-session: making the prefix, try $try: done in $(since "$started")" >&2
    # The server lingers a few seconds after the build's last program.
    timeout 60 wineserver -w </dev/null >/dev/null 2>&1 || end_prefix
    check_registry
    echo "$prefix_recipe" >"$ready"
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
  local deadline=$((SECONDS + 60))
  while ((SECONDS < deadline)); do
    grep -q '>' "$dir/keeper.log" 2>/dev/null && break
    sleep 0.02
  done
  grep -q '>' "$dir/keeper.log" || { echo "wine-session: the desktop keeper did not start" >&2; exit 1; }
}

case "$cmd" in
  start) start "$@" ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
