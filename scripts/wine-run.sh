#!/usr/bin/env bash
# Runs one Windows program under the project's 32-bit Wine prefix.
# The prefix lives in the build tree; scripts/wine-prefix.sh creates it.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 TZ=UTC
exec wine "$@"
