#!/usr/bin/env bash
# Creates one of the project's Wine prefixes once (inside the build tree):
#   wine-prefix.sh [32|64]   (default 32)
# The graphics driver is null so that hidden windows can be created without
# a display.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
vm_wine_env "${1:-32}"
if [ -f "$WINEPREFIX/.vm-ready" ]; then
  exit 0
fi
rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
echo "wine-prefix: creating $WINEPREFIX"
"$WINELOADER" wineboot -i >/dev/null 2>&1
"$WINELOADER" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
"$WINESERVER" -w
touch "$WINEPREFIX/.vm-ready"
