#!/usr/bin/env bash
# Runs a Windows program in the session that wine-session.sh started.
#   wine-run.sh [--test] DIR PROGRAM [ARGS...]
# --test (how ctest runs the test programs): a time limit, and one more run
# when Wine itself broke down rather than the program failing. Under
# qemu-i386 a Wine process now and then loses its server connection ("wine
# client error") and hangs; a program that really fails or hangs does so
# twice and is reported.
# A test that shows windows is given one of the suite's sessions by ctest (its
# resource "wine_session", named as the session's folder beside DIR), so that
# no other test's window takes the focus from it; any other test runs in DIR.
# The program gets the caller's environment. Wine takes a process's ANSI code
# page from its locale, so LC_ALL=ja_JP.UTF-8 gives it code page 932 while the
# session's other programs keep theirs.
set -uo pipefail

test_mode=0
if [[ ${1:-} == --test ]]; then
  test_mode=1
  shift
fi
dir=$(cd "${1:?wine directory}" && pwd)
shift
if [[ $test_mode -eq 1 && ${CTEST_RESOURCE_GROUP_0_WINE_SESSION:-} =~ ^id:([a-z0-9_]+), ]]; then
  dir=$(dirname "$dir")/${BASH_REMATCH[1]}
fi
export WINEPREFIX="$dir/prefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe,winemenubuilder.exe=d"
export DISPLAY=$(cat "$dir/display" 2>/dev/null || echo "${DISPLAY:-}")

# On the session's CPU, with its server and display (wine-session.sh).
cpu=$(cat "$dir/cpu" 2>/dev/null) && taskset -p -c "$cpu" $$ >/dev/null

[[ $test_mode -eq 1 ]] || exec wine "$@"

limit=${QUILLON_WINE_TEST_SECONDS:-200}
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
for try in 1 2; do
  timeout -k 5 "$limit" wine "$@" 2>"$errors"
  status=$?
  cat "$errors" >&2
  [[ $status -eq 0 ]] && exit 0
  if [[ $try -eq 1 ]] && { [[ $status -eq 124 || $status -eq 137 ]] ||
    grep -q "wine client error" "$errors"; }; then
    echo "wine-run: Wine broke down (exit $status); running $1 once more" >&2
    continue
  fi
  exit "$status"
done
