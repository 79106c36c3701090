#!/usr/bin/env bash
# Runs a Windows program under Wine with the build's own prefix and no debug
# chatter. Used as CMAKE_CROSSCOMPILING_EMULATOR and by the scripts in tools/.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
exec wine "$@"
