#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and is
# not yet on the machine, and lets 32-bit programs (Wine's) run. A second run
# finds everything in place and returns in seconds.
set -euo pipefail

# Where the files this script writes under /etc and /proc go: the machine's
# own root unless its test names a scratch one.
root=${QUILLON_SETUP_ROOT:-}

packages=(
  cmake ninja-build g++ make pkg-config
  googletest libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386 wine32-preloader:i386 wine64 fonts-wine
  locales
  xvfb xauth x11-utils xdotool imagemagick openbox
  python3 python3-mutagen python3-pefile id3v2 zip unzip osslsigncode openssl
  libengine-pkcs11-openssl softhsm2
  e2fsprogs mount
)

# Packages taken from backports, each with the lowest version that will do.
declare -A backported=()

install_missing() {
  local missing=() args=() p status name arch native
  # One query for every package: each costs dpkg its whole database read. A
  # package is listed by its name with its architecture, and by its bare name
  # too when that is the machine's own or "all".
  local -A installed=()
  native=$(dpkg --print-architecture)
  while read -r name arch status; do
    installed[$name:$arch]=$status
    [[ $arch != "$native" && $arch != all ]] || installed[$name]=$status
  done < <(dpkg-query -W -f='${Package} ${Architecture} ${db:Status-Abbrev} ${Version}\n' \
    "${packages[@]}" 2>/dev/null || true)
  for p in "${packages[@]}"; do
    status=${installed[$p]:-}
    if [[ $status != ii* ]] ||
      { [[ -n ${backported[$p]:-} ]] && dpkg --compare-versions "${status##* }" lt "${backported[$p]}"; }; then
      missing+=("$p")
      if [[ -n ${backported[$p]:-} ]]; then args+=("$p/$backports"); else args+=("$p"); fi
    fi
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
  [[ ${#backported[@]} -eq 0 ]] || add_backports
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${args[@]}" >/dev/null
  for p in "${!backported[@]}"; do
    status=$(dpkg-query -W -f='${Version}' "$p")
    if dpkg --compare-versions "$status" lt "${backported[$p]}"; then
      echo "setup: $backports has $p $status; ${backported[$p]} or later is needed" >&2
      exit 1
    fi
  done
}

# Wine for 32-bit Windows is itself a 32-bit Linux program. Where the kernel
# runs no 32-bit code (ia32 emulation off), qemu's i386 user-mode emulator runs
# it instead, registered as the interpreter for 32-bit ELF files. The probe is
# the smallest 32-bit program, exit(0), with a byte of its ELF padding set so
# that no binfmt_misc entry for i386 matches it: it runs only if the kernel
# itself runs 32-bit code, whatever qemu is registered.
runs_32bit_natively() {
  local dir status=0
  dir=$(mktemp -d)
  # ELF header: 32-bit, little-endian, pad byte 9 set; executable, i386, entry
  # 0x08048054. One PT_LOAD of the whole 93-byte file at 0x08048000, r-x.
  # Code: mov eax, 1; xor ebx, ebx; int 0x80.
  printf '%b' '\x7fELF\x01\x01\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$dir/probe"
  chmod +x "$dir/probe"
  "$dir/probe" 2>/dev/null || status=1
  rm -rf "$dir"
  return "$status"
}

# qemu 7.2 (Debian 12's) keeps one set_thread_area slot per process, not per
# thread as the kernel does, and Wine's threads each store their own %fs and
# %gs base in the same slot, so under it a thread now and then reloads
# another's: Wine's services die or spin, a prefix build hangs, and one that
# completes lacks registry keys. qemu 10, from backports, keeps them per thread.
backports=bookworm-backports
backports_list=$root/etc/apt/sources.list.d/quillon-backports.sources
backports_pin=$root/etc/apt/preferences.d/quillon-backports

# The backports suite on the machine's own Debian mirror, as apt itself knows
# it from the machine's sources in either format, and a pin that takes only
# qemu-user from it. Debian's archive keys, which apt already trusts, sign it.
add_backports() {
  local release=${backports%-backports} mirror
  apt-get update -qq
  mirror=$(apt-get indextargets --format '$(REPO_URI)' "Codename: $release" 'Origin: Debian' |
    awk 'NR == 1')
  if [[ -z $mirror ]]; then
    echo "setup: apt has no Debian $release mirror to take $backports from" >&2
    exit 1
  fi
  {
    echo "# qemu-user for 32-bit Wine under emulation (scripts/setup.sh)"
    echo "Types: deb"
    echo "URIs: $mirror"
    echo "Suites: $backports"
    echo "Components: main"
  } >"$backports_list"
  cat >"$backports_pin" <<EOF
# Only qemu-user comes from $backports (scripts/setup.sh).
Package: qemu-user
Pin: release n=$backports
Pin-Priority: 500

Package: *
Pin: release n=$backports
Pin-Priority: -1
EOF
}

# Registered under qemu's usual name. With the F flag the kernel opens the
# interpreter once, at registration, and keeps it open, so an entry made for
# another binary keeps running that one even after its package is gone: such
# an entry is made again.
enable_qemu() {
  local misc=$root/proc/sys/fs/binfmt_misc qemu=/usr/bin/qemu-i386
  local entry=$misc/qemu-i386
  if mountpoint -q "$misc" && grep -qx "interpreter $qemu" "$entry" 2>/dev/null &&
    grep -qx enabled "$entry"; then
    return 0
  fi
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: this kernel runs no 32-bit programs and $qemu is not registered for them;" \
      "run this script as root once" >&2
    exit 1
  fi
  echo "setup: running 32-bit programs through $qemu"
  mountpoint -q "$misc" || mount -t binfmt_misc binfmt_misc "$misc"
  if [[ -e $entry ]] && ! grep -qx "interpreter $qemu" "$entry"; then
    echo -1 >"$entry"
  fi
  if [[ ! -e $entry ]]; then
    # ELF, 32-bit, little-endian, executable or shared object, machine i386.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
      >"$misc/register"
  fi
  echo 1 >"$entry"
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
  sed -i -E 's/^# *(ja_JP\.UTF-8 UTF-8)$/\1/' "$root/etc/locale.gen"
  grep -qx 'ja_JP.UTF-8 UTF-8' "$root/etc/locale.gen" || echo 'ja_JP.UTF-8 UTF-8' >>"$root/etc/locale.gen"
  localedef -i ja_JP -c -f UTF-8 -A /usr/share/locale/locale.alias ja_JP.UTF-8
}

native32=0
if runs_32bit_natively; then
  native32=1
else
  packages+=(qemu-user)
  backported[qemu-user]=1:10.0
fi
install_missing
generate_locales
[[ $native32 -eq 1 ]] || enable_qemu
