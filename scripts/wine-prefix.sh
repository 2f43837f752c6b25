#!/usr/bin/env bash
# Creates the project's 32-bit Wine prefix once (inside the build tree).
# The graphics driver is null so that hidden windows can be created without
# a display.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export WINEARCH=win32 WINEDEBUG=-all
unset DISPLAY
if [ -f "$WINEPREFIX/.vm-ready" ]; then
  exit 0
fi
rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
echo "wine-prefix: creating $WINEPREFIX"
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -w
touch "$WINEPREFIX/.vm-ready"
