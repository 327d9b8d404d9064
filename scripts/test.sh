#!/usr/bin/env bash
# Builds everything and runs every test: the tag code natively under the
# sanitizers, then the Windows build and its tests under Wine. Installs what
# is missing first. Ends with one line: "tests: N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/setup.sh || exit 1

passed=0
failed=0
status=0
for preset in native win32; do
  echo "== $preset"
  log="build/ctest-$preset.log"
  mkdir -p build
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
  ctest --preset "$preset" 2>&1 | tee "$log"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
  # "NN% tests passed, F tests failed out of T"
  if line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log"); then
    f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    t=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + t - f))
    failed=$((failed + f))
  else
    status=1
  fi
done

[[ $status -eq 0 || $failed -gt 0 ]] || failed=1
echo "tests: $passed passed, $failed failed"
exit $status
