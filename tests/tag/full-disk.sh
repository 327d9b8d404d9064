#!/usr/bin/env bash
# Mounts or unmounts the small tmpfs the full-disk tag tests fill up.
#   full-disk.sh mount DIR     (always exits 0: where mounting is not allowed
#                               it leaves DIR/not-mounted saying why, and the
#                               tests skip with that line)
#   full-disk.sh unmount DIR
set -uo pipefail

cmd=${1:?mount or unmount}
dir=${2:?directory}

case "$cmd" in
  mount)
    mkdir -p "$dir"
    if mountpoint -q "$dir"; then umount "$dir" || exit 1; fi
    rm -f "$dir/not-mounted"
    skip() {
      echo "$*" >"$dir/not-mounted"
      echo "full-disk: $*"
      exit 0
    }
    # The tests place a file's end on a page boundary, or 64 bytes short of
    # one, and tmpfs allocates whole pages.
    [[ $(getconf PAGESIZE) == 4096 ]] || skip "the pages here are not 4 KiB"
    [[ $(id -u) == 0 ]] || skip "mounting a tmpfs needs root"
    errors=$(mount -t tmpfs -o size=256k,mode=0777 quillon-full-disk "$dir" 2>&1) ||
      skip "mounting a tmpfs failed: $errors"
    echo "full-disk: mounted a 256 KiB tmpfs on $dir"
    ;;
  unmount)
    if mountpoint -q "$dir"; then
      # Lazily only when something still holds it, so it goes away once that
      # lets go.
      umount "$dir" 2>/dev/null || { echo "full-disk: $dir busy, detaching it" && umount -l "$dir"; } || exit 1
    fi
    rm -f "$dir/not-mounted"
    ;;
  *)
    echo "usage: $0 mount|unmount DIR" >&2
    exit 2
    ;;
esac
