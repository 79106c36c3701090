#!/usr/bin/env bash
# The main job: set up, build Kestrune.dll, and ask it a few worked examples
# through kestrune-probe.exe under Wine.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tools/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32
cmake/wine-session.sh start
trap 'cmake/wine-session.sh stop' EXIT
probe() {
  echo "\$ kestrune-probe $*"
  (cd build/win32 && ../../cmake/wine-run.sh kestrune-probe.exe "$@")
}
probe open_buy  1.3002 1.3    4 1 -0.2 1.3012 10 0.0001 1
probe open_sell 1.3002 1.3    4 1 -0.2 1.3012 10 0.0001 1
probe open_sell 1.3003 1.3001 4 1  0.2 1.3012 10 0.0001 1
probe open_buy  1.5    1.0    2 1 -0.2 2.0     0 0.25   1
probe trade_time 2024-01-08T22:10:00Z
probe GetGmtOffset now 0
# The default build names no real time service, so this falls back to the clock (4).
probe GetGmtOffset 2024-01-08T22:10:00Z 1
probe --version
probe selftest
