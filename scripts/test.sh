#!/usr/bin/env bash
# Builds everything and runs every test: the tag code natively under the
# sanitizers, and the Windows build and its tests under Wine. Installs what is
# missing first. Ends with one line: "tests: N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/setup.sh || exit 1

passed=0
failed=0
status=0
built=()
mkdir -p build
for preset in native win32; do
  echo "== $preset"
  if ! cmake --preset "$preset" >"build/configure-$preset.log" 2>&1; then
    cat "build/configure-$preset.log"
    status=1
    continue
  fi
  targets=(all)
  # The release zip is built too, so a change that breaks it fails here.
  [[ $preset == win32 ]] && targets+=(package_release)
  if ! cmake --build --preset "$preset" --target "${targets[@]}"; then
    status=1
    continue
  fi
  built+=("$preset")
done

# The two trees' tests run side by side: the Wine tests spend their first and
# last seconds waiting on Wine sessions to start and stop, which the native
# tests fill. The Wine tests are shown as they run, the native ones after.
# Only this run's logs are counted, whatever becomes of the steps below.
rm -f build/ctest-native.log build/ctest-win32.log
native=
if [[ " ${built[*]} " == *" native "* ]]; then
  ctest --preset native >build/ctest-native.log 2>&1 &
  native=$!
fi
if [[ " ${built[*]} " == *" win32 "* ]]; then
  echo "== win32 tests"
  ctest --preset win32 2>&1 | tee build/ctest-win32.log
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
fi
if [[ -n $native ]]; then
  wait "$native" || status=1
  echo "== native tests"
  cat build/ctest-native.log
fi

for preset in "${built[@]}"; do
  # "NN% tests passed, F tests failed out of T"
  if line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "build/ctest-$preset.log"); then
    f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    t=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + t - f))
    failed=$((failed + f))
  else
    status=1
  fi
done

# A step that failed without a count of tests counts as one failure, and any
# failure fails the run.
[[ $status -eq 0 || $failed -gt 0 ]] || failed=1
[[ $failed -eq 0 ]] || status=1
echo "tests: $passed passed, $failed failed"
exit $status
