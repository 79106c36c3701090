#!/usr/bin/env bash
# The whole test run: set up, build both presets, run every test natively and
# under Wine, and end with one pass/fail summary. CI runs exactly this.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
start=$(date +%s)

tools/setup.sh || { echo "setup failed"; exit 1; }

passed=0; failed=0; broken=()
# suite NAME COMMAND...: runs one ctest suite and adds its counts.
suite() {
  local name=$1; shift
  local log="build/logs/$name.log"
  mkdir -p build/logs
  echo "=== $name"
  "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line total bad
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$line" ]; then
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + total - bad)); failed=$((failed + bad))
  fi
  if [ "$rc" -ne 0 ] || [ -z "$line" ]; then
    broken+=("$name")
    [ -n "$line" ] && [ "$bad" -gt 0 ] || failed=$((failed + 1))
  fi
}
# step NAME COMMAND...: a build step; a failure counts as one failed test.
step() {
  local name=$1; shift
  echo "=== $name"
  if ! "$@"; then broken+=("$name"); failed=$((failed + 1)); fi
}

step "native build" bash -c 'cmake --preset native >/dev/null && cmake --build --preset native'
suite "native tests" ctest --preset native
step "win32 build" bash -c 'cmake --preset win32 >/dev/null && cmake --build --preset win32'
suite "win32 tests (Wine)" ctest --preset win32
step "asan build" bash -c 'cmake --preset asan >/dev/null && cmake --build --preset asan'
suite "native tests under ASan+UBSan" ctest --preset asan
step "tsan build" bash -c 'cmake --preset tsan >/dev/null && cmake --build --preset tsan'
suite "concurrency tests under TSan" ctest --preset tsan
step "fuzzing (${KESTRUNE_FUZZ_SECONDS:-60} s a target)" tools/fuzz.sh "${KESTRUNE_FUZZ_SECONDS:-60}"

echo
echo "=== summary ($(( $(date +%s) - start )) s)"
[ ${#broken[@]} -eq 0 ] || echo "failing: ${broken[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
