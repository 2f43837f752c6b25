#!/usr/bin/env bash
# Stops a prefix's wineserver and every Wine process of it:
#   wine-stop.sh [32|64]   (default 32)
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
vm_wine_env "${1:-32}"
"$WINESERVER" -k >/dev/null 2>&1 || true
