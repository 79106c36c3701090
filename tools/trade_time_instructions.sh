#!/usr/bin/env bash
# Instructions per call of trade_time, of the same predicate on gmtime_r and
# of an empty function, counted by callgrind over the native benchmark's
# random inputs: each function's inclusive cost divided by its calls.
# Run after building the native preset.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bench=build/native/trading_window_bench
[ -x "$bench" ] || { echo "build the native preset first" >&2; exit 1; }
out=$(mktemp)
trap 'rm -f "$out"' EXIT
valgrind --tool=callgrind --callgrind-out-file="$out" "$bench" \
  --benchmark_filter='/random$' --benchmark_min_time=0.02 >/dev/null 2>&1
# In the caller tree, "<" lines carry each caller's calls as "(N x)" and the
# "*" line that follows is the function itself with its inclusive cost.
callgrind_annotate --inclusive=yes --tree=caller "$out" 2>/dev/null | python3 -c '
import re, sys
NAMES = [(r"\?\?\?:trade_time ", "trade_time"),
         (r"gmtime_trade_time", "gmtime_r predicate"),
         (r"empty_predicate", "empty function")]
calls = 0
for line in sys.stdin:
    cost = re.match(r"\s*([\d,]+) ", line)
    if cost and "  < " in line:
        m = re.search(r"\(([\d,]+)x\)", line)
        calls += int(m.group(1).replace(",", "")) if m else 0
        continue
    if cost and "  *  " in line:
        for pattern, name in NAMES:
            if re.search(pattern, line) and calls:
                ir = int(cost.group(1).replace(",", ""))
                print(f"{name:20} {ir / calls:8.1f} instructions per call ({calls} calls)")
    calls = 0
'
