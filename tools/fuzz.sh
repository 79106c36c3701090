#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time (default 60 s)
# from its committed seed corpus. Any finding fails the run; the input that
# caused it is kept in build/fuzz/artifacts/.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz || exit 1
status=0
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  work=build/fuzz/corpus/$name
  mkdir -p "$work" build/fuzz/artifacts
  echo "=== fuzz_$name for ${seconds}s"
  if build/fuzz/fuzz_$name -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/"$name"- \
       "$work" "$corpus" >build/fuzz/$name.log 2>&1; then
    tail -n 12 build/fuzz/$name.log | grep -E 'stat::number_of_executed_units|cov:' | tail -2
    echo "fuzz_$name: no findings"
  else
    tail -n 40 build/fuzz/$name.log
    echo "fuzz_$name: FINDING"
    status=1
  fi
done
exit $status
