#!/usr/bin/env bash
# Opens an MP3 file's tag dialog in the stand-in host under Wine: on the screen
# when there is a display, otherwise on a virtual one, saved as a screenshot.
#   run.sh [FILE.mp3]   (default: a fresh copy of samples/sample.mp3 in build/run/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Not the ctest fixture's build/win32/wine: stopping one must not stop the other.
wine_dir=$root/build/run-wine
run_dir=$root/build/run
dialog_title="Quillon - MP3"
host_caption="Quillon"
window_timeout=120 # seconds; Wine under emulation starts slowly

die() {
  echo "run: $*" >&2
  exit 1
}

# Wine's drive Z: is the Unix root, so every absolute path has a Windows name.
windows_path() {
  local path=${1//\//\\}
  echo "Z:$path"
}

scripts/setup.sh || exit 1

[[ -f build/win32/build.ninja ]] || cmake --preset win32 >/dev/null
# The host target also copies the plugin beside the host.
cmake --build --preset win32 --target QuillonHost
host=$root/build/win32/host/QuillonHost.exe

mkdir -p "$run_dir"
rm -f "$run_dir"/dialog.png "$run_dir"/screen.png "$run_dir"/message-*.png
if [[ $# -ge 1 ]]; then
  [[ -f $1 ]] || die "$1: no such file"
  file=$(realpath -- "$1")
else
  # A copy, so that saving in the dialog never changes the shipped sample.
  file=$run_dir/sample.mp3
  cp samples/sample.mp3 "$file"
fi

if ! wine_says=$(wine --version 2>&1); then
  cat >&2 <<EOF
run: Wine cannot run on this machine, so the tag dialog cannot be shown.
run: 'wine --version' said: $wine_says
run: The host and the plugin are 32-bit Windows programs and need 32-bit Wine
run: (wine32), which needs the kernel's 32-bit support or a qemu-i386 handler
run: for 32-bit programs. The build itself is done: $host
EOF
  exit 3
fi

host_pid=
cleanup() {
  if [[ -n $host_pid ]] && kill -0 "$host_pid" 2>/dev/null; then
    kill "$host_pid" 2>/dev/null || true
  fi
  scripts/wine-session.sh stop "$wine_dir"
}

# Set before the session starts: a start that fails halfway may have left a
# display or a server running.
trap cleanup EXIT
if [[ -n ${DISPLAY:-} ]]; then
  scripts/wine-session.sh start "$wine_dir" --display
  echo "run: opening $file"
  status=0
  scripts/wine-run.sh "$wine_dir" "$host" "$(windows_path "$file")" || status=$?
  exit "$status"
fi

# Without a display the session makes a virtual one, where Wine draws the
# dialog's caption and frame as Windows does, so a shot of its window alone
# shows what Windows would.
scripts/wine-session.sh start "$wine_dir"
DISPLAY=$(cat "$wine_dir/display")
export DISPLAY

echo "run: opening $file on the virtual display $DISPLAY"
scripts/wine-run.sh "$wine_dir" "$host" "$(windows_path "$file")" >"$run_dir/host.log" 2>&1 &
host_pid=$!

# Each X program below has a time limit: now and then one that connects while
# the window manager holds the display is never read from again by Xvfb, which
# goes on answering every other program.

# The X window of a shown Windows window with exactly this title, if any; a
# hidden one (the host's main window) has an X window too, never mapped. One
# program per look, since the waits below look twenty times a second.
shown_window() {
  local ids
  ids=$(timeout 10 xdotool search --onlyvisible --name "^$1\$" 2>/dev/null) || true
  echo "${ids%%$'\n'*}"
}

# Whether the X window is still shown.
viewable() {
  timeout 10 xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# A shot of a window once it is drawn: a window is shown before its controls
# are painted, so shots are taken until two in a row are alike. False if the
# window went first.
shoot() {
  local window=$1 shot=$2 last=$2.last
  rm -f "$last"
  for _ in $(seq 200); do
    timeout 10 import -window "$window" -define png:exclude-chunk=date,time "$shot" 2>/dev/null ||
      break
    if cmp -s "$shot" "$last"; then
      rm -f "$last"
      return 0
    fi
    mv "$shot" "$last"
    sleep 0.05
  done
  rm -f "$last" "$shot"
  return 1
}

# The host's message boxes (caption "Quillon") come before the dialog: each is
# saved, shown by path and answered with Enter, so a warning such as the
# read-only one lets the dialog follow.
window=
boxes=0
started=$SECONDS
while [[ -z $window && $((SECONDS - started)) -lt $window_timeout ]]; do
  box=
  # One look for either window, since nearly every look finds neither.
  if [[ -n $(shown_window "($dialog_title|$host_caption)") ]]; then
    window=$(shown_window "$dialog_title")
    [[ -n $window ]] || box=$(shown_window "$host_caption")
  fi
  if [[ -n $box ]] && shoot "$box" "$run_dir/message-$((boxes + 1)).png"; then
    boxes=$((boxes + 1))
    echo "run: the host showed a message: $run_dir/message-$boxes.png" >&2
    timeout 10 xdotool windowfocus "$box" key Return 2>/dev/null || true
    for _ in $(seq 100); do
      viewable "$box" || break
      sleep 0.05
    done
  fi
  kill -0 "$host_pid" 2>/dev/null || break
  sleep 0.05
done

shot=$run_dir/dialog.png
if [[ -z $window ]]; then
  # Not dialog.png, which is only ever the dialog.
  screen=$run_dir/screen.png
  timeout 10 import -window root "$screen" 2>/dev/null || true
  if kill -0 "$host_pid" 2>/dev/null; then
    echo "run: no \"$dialog_title\" window after ${window_timeout} s; the screen: $screen" >&2
  else
    wait "$host_pid" && status=0 || status=$?
    host_pid=
    echo "run: the host ended with status $status before its dialog appeared" >&2
    cat "$run_dir/host.log" >&2
  fi
  exit 1
fi

if ! shoot "$window" "$shot"; then
  echo "run: the \"$dialog_title\" window closed before it could be shot" >&2
  exit 1
fi
echo "$shot"

# Esc does nothing in this dialog; Alt+F4 closes it as the Close button does.
timeout 10 xdotool windowfocus "$window" key alt+F4 2>/dev/null || true
for _ in $(seq 100); do
  kill -0 "$host_pid" 2>/dev/null || break
  sleep 0.05
done
if kill -0 "$host_pid" 2>/dev/null; then
  echo "run: the dialog did not close on Alt+F4; ending the host" >&2
  exit 1
fi
# The host ends with LoadFile's result, 0 once the dialog is closed.
wait "$host_pid" && status=0 || status=$?
host_pid=
[[ $status -eq 0 ]] || echo "run: the host ended with status $status" >&2
exit "$status"
