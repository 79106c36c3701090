#!/usr/bin/env bash
# start|stop a persistent wineserver for a batch of Windows tests.
# "start" also boots the prefix once with every descriptor sent to /dev/null:
# Wine's background services would otherwise inherit the caller's pipes and
# keep a test runner waiting for ever.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
case "${1:-}" in
  start)
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1
    exit 0 ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
    exit 0 ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
