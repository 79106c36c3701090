# Sourced by the Wine wrappers: the build's own 32-bit prefix, no debug chatter.
kestrune_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$kestrune_root/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win32
mkdir -p "$WINEPREFIX"
