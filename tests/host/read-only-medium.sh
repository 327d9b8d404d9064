#!/usr/bin/env bash
# A file on a read-only medium for the host tests: a small ext2 image holding
# a copy of FILE, mounted read-only at DIR/mnt; and its removal, which also
# clears a mount a killed run left behind.
#   read-only-medium.sh mount DIR FILE
#   read-only-medium.sh unmount DIR
set -euo pipefail
action=${1:?mount or unmount}
dir=${2:?folder}
mnt=$dir/mnt

unmount() {
  if mountpoint -q "$mnt"; then umount "$mnt"; fi
  rm -rf "$dir"
}

case $action in
  mount)
    file=${3:?file}
    unmount
    mkdir -p "$dir/content" "$mnt"
    # Writable by its owner, so only the medium refuses the write.
    install -m 644 "$file" "$dir/content/"
    mke2fs -q -F -t ext2 -d "$dir/content" "$dir/medium.img" 1M >/dev/null
    mount -o ro,loop "$dir/medium.img" "$mnt"
    ;;
  unmount) unmount ;;
  *)
    echo "read-only-medium.sh: mount or unmount, not $action" >&2
    exit 2
    ;;
esac
