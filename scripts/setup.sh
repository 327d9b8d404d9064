#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and is
# not yet on the machine, and lets 32-bit programs (Wine's) run. A second run
# finds everything in place and returns in seconds.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  googletest libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386 wine32-preloader:i386 wine64 qemu-user-static fonts-wine
  locales
  xvfb xauth x11-utils xdotool imagemagick openbox
  python3 python3-mutagen python3-pefile id3v2 zip unzip osslsigncode openssl
)

install_missing() {
  local missing=() p status
  for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
    [[ "$status" == ii* ]] || missing+=("$p")
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0

  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: missing packages: ${missing[*]}; run this script as root once" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Wine for 32-bit Windows is itself a 32-bit Linux program. Where the kernel
# runs no 32-bit code (ia32 emulation off), qemu's i386 user-mode emulator runs
# it instead, registered as the interpreter for 32-bit ELF files.
enable_32bit() {
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 && return 0
  local misc=/proc/sys/fs/binfmt_misc
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: this kernel runs no 32-bit programs; run this script as root once" >&2
    exit 1
  fi
  echo "setup: running 32-bit programs through qemu-i386"
  mountpoint -q "$misc" || mount -t binfmt_misc binfmt_misc "$misc"
  if [[ ! -e $misc/qemu-i386 ]]; then
    # ELF, 32-bit, little-endian, executable or shared object, machine i386.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >"$misc/register"
  fi
  echo 1 >"$misc/qemu-i386"
  /lib/ld-linux.so.2 --version >/dev/null
}

# Wine takes a process's ANSI code page from its locale, so a test that needs
# code page 932 runs its program with LC_ALL=ja_JP.UTF-8.
generate_locales() {
  locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8' && return 0
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: the ja_JP.UTF-8 locale is missing; run this script as root once" >&2
    exit 1
  fi
  echo "setup: generating the ja_JP.UTF-8 locale"
  # Listed in locale.gen too, so a later locale-gen keeps it.
  sed -i -E 's/^# *(ja_JP\.UTF-8 UTF-8)$/\1/' /etc/locale.gen
  grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
  localedef -i ja_JP -c -f UTF-8 -A /usr/share/locale/locale.alias ja_JP.UTF-8
}

install_missing
generate_locales
enable_32bit
