#!/usr/bin/env bash
# Installs what is missing, builds the Windows libraries and runs the example
# of the main job under Wine: a client loads Api.dll, starts a session on a
# fresh installation folder, saves and ends it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
bash scripts/setup.sh
export LANG=C.UTF-8 LC_ALL=C.UTF-8 TZ=UTC
export WINEPREFIX="$here/build/wineprefix" WINEARCH=win32 WINEDEBUG=-all
unset DISPLAY
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target Api walkthrough
bash scripts/wine-prefix.sh
install="$here/build/example-install"
rm -rf "$install"
mkdir -p "$install"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
bash scripts/wine-start.sh
wine build/windows/api/example/walkthrough.exe build/windows/api/Api.dll "Z:${install//\//\\}"
