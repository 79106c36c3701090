#!/usr/bin/env bash
# Runs a Windows program under Wine with the build's own prefix and no debug
# chatter. Used as CMAKE_CROSSCOMPILING_EMULATOR and by the scripts in tools/.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win32
mkdir -p "$WINEPREFIX"
exec wine "$@"
