#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test: native
# units under ASan/UBSan, each fuzz target briefly over its seed corpus, and
# the Windows programs under Wine: the 64-bit build always, the 32-bit build
# wherever the host can execute i386 code. Exits non-zero on any failure of
# a suite that ran; a suite the host cannot run is named, not counted.
#
# VM_NO_I386=1 treats the host as one without i386 execution (the 32-bit
# build is still compiled, its tests are not run).
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"

bash scripts/setup.sh || exit 1
source scripts/wine-env.sh

export LANG=C.UTF-8 LC_ALL=C.UTF-8 TZ=UTC WINEDEBUG=-all
unset DISPLAY
jobs=$(nproc)
status=0
ran=() failed=() skipped=()
step() { echo "== $*"; }
result() { # suite, exit status
  if [ "$2" -eq 0 ]; then ran+=("$1"); else failed+=("$1"); status=1; fi
}

# Decided once: can this host execute the 32-bit Wine loader at all?
if vm_host_runs_i386; then
  run32=1
else
  run32=0
  if [ "${VM_NO_I386:-0}" = 1 ]; then why="VM_NO_I386=1 is set"
  else why="/usr/lib/wine/wine: $( (/usr/lib/wine/wine --version) 2>&1 | head -n 1 | sed 's/^.*: //')"; fi
  echo "== windows (32-bit) tests cannot run on this host: it cannot execute i386 code ($why);"
  echo "   the 32-bit build is compiled, and the same sources are tested by the 64-bit build"
fi

# A fresh run writes about 11 GB of build folders and Wine prefixes; when the
# disk fills, tests fail on their temporary folders, far from the cause.
free_gb=$(df -P -BG "$here" | awk 'NR == 2 { sub("G", "", $4); print $4 }')
step "disk: ${free_gb} GB free for the build folders"
if [ "${free_gb:-0}" -lt 12 ]; then
  echo "   warning: a fresh run needs about 11 GB; tests may fail for want of space"
fi

step "style: clang-format"
bash scripts/format-check.sh; result style $?

step "native: configure, build, test"
if cmake --preset native >/dev/null && cmake --build --preset native -j "$jobs"; then
  ctest --preset native; result native $?
else
  result native 1
fi

step "fuzz: configure, build, short runs"
if cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j "$jobs"; then
  ctest --preset fuzz; result fuzz $?
else
  result fuzz 1
fi

# One Windows build and its test run: preset, prefix bits, whether to run.
windows_suite() {
  local preset=$1 bits=$2 run=$3
  step "$preset: configure, build"
  if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs"; }; then
    result "$preset" 1
    return
  fi
  if [ "$run" -eq 0 ]; then
    skipped+=("$preset (built, not run: no i386 execution)")
    return
  fi
  step "$preset: wine prefix"
  # One persistent wineserver for the whole run, stopped however it ends.
  if ! bash scripts/wine-prefix.sh "$bits" || ! bash scripts/wine-start.sh "$bits"; then
    bash scripts/wine-stop.sh "$bits"
    result "$preset" 1
    return
  fi
  step "$preset: tests under wine"
  ctest --preset "$preset"
  result "$preset" $?
  bash scripts/wine-stop.sh "$bits"
}
trap 'bash scripts/wine-stop.sh 64; [ "$run32" -eq 1 ] && bash scripts/wine-stop.sh 32; true' EXIT

windows_suite windows64 64 1
windows_suite windows 32 "$run32"

echo "== suites passed: ${ran[*]:-none}"
[ "${#failed[@]}" -gt 0 ] && echo "== suites FAILED: ${failed[*]}"
[ "${#skipped[@]}" -gt 0 ] && echo "== suites not run: ${skipped[*]}"
if [ "$status" -eq 0 ]; then echo "== all tests that could run passed"; else echo "== FAILURES"; fi
exit "$status"
