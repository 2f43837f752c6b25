#!/usr/bin/env bash
# Starts the prefix's wineserver and Wine's own system processes (services,
# device and plug-and-play hosts) for a run, with their output sent nowhere.
# Otherwise the first test program would start them and they would keep its
# standard output open, so whoever reads that output would wait for them.
# Stop everything with `wineserver -k` when the run ends.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export WINEARCH=win32 WINEDEBUG=-all
unset DISPLAY
wineserver -p >/dev/null 2>&1 </dev/null &
wineboot >/dev/null 2>&1 </dev/null
