#!/usr/bin/env bash
# Starts a prefix's wineserver and Wine's own system processes (services,
# device and plug-and-play hosts) for a run, with their output sent nowhere:
#   wine-start.sh [32|64]   (default 32)
# Otherwise the first test program would start them and they would keep its
# standard output open, so whoever reads that output would wait for them.
# Stop everything with wine-stop.sh when the run ends.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
vm_wine_env "${1:-32}"
"$WINESERVER" -p >/dev/null 2>&1 </dev/null &
"$WINELOADER" wineboot >/dev/null 2>&1 </dev/null
