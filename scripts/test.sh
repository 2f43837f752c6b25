#!/usr/bin/env bash
# Installs what is missing, builds both presets and runs every test:
# native units under ASan/UBSan, the Windows programs under Wine, and each
# fuzz target briefly over its seed corpus. Exits non-zero on any failure.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"

bash scripts/setup.sh || exit 1

export LANG=C.UTF-8 LC_ALL=C.UTF-8 TZ=UTC
export WINEPREFIX="$here/build/wineprefix" WINEARCH=win32 WINEDEBUG=-all
unset DISPLAY
jobs=$(nproc)
status=0
step() { echo "== $*"; }

step "native: configure, build, test"
if cmake --preset native >/dev/null && cmake --build --preset native -j "$jobs"; then
  ctest --preset native || status=1
else
  status=1
fi

step "fuzz: configure, build, short runs"
if cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j "$jobs"; then
  ctest --preset fuzz || status=1
else
  status=1
fi

step "windows: configure, build"
if cmake --preset windows >/dev/null && cmake --build --preset windows -j "$jobs"; then
  step "windows: wine prefix"
  bash scripts/wine-prefix.sh || status=1
  # One persistent wineserver for the whole run, stopped however the run ends.
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  bash scripts/wine-start.sh || status=1
  step "windows: tests under wine"
  ctest --preset windows || status=1
else
  status=1
fi

if [ "$status" -eq 0 ]; then echo "== all tests passed"; else echo "== FAILURES"; fi
exit "$status"
