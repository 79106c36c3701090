#!/usr/bin/env bash
# The benchmark report: builds what it needs of both presets, times every
# export beside an empty call and the obvious implementation, counts
# instructions with callgrind, lists the DLL's size, imports and exports,
# times trade_time in the DLL under Wine, and prints one markdown table (also
# written to build/bench-report.md). Takes a minute or two.
#   bash tools/bench.sh            # everything
#   bash tools/bench.sh --no-wine  # without the Wine line
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tools/setup.sh
{
  [ -f build/native/CMakeCache.txt ] || cmake --preset native >/dev/null
  cmake --build --preset native --target entry_rules_bench trading_window_bench \
    gmt_offset_bench
  [ -f build/win32/CMakeCache.txt ] || cmake --preset win32 >/dev/null
  cmake --build --preset win32 --target Kestrune window-bench
} >&2
exec python3 tools/bench_report.py "$@"
