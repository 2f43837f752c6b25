#!/usr/bin/env bash
# Installs what is missing, builds the Windows libraries and runs the example
# of the main job under Wine: a client loads Api.dll, starts a session on a
# fresh installation folder, saves it, backs it up beside the folder, changes
# a setting, restores the backup and ends the session. Then a script does
# the same kind of work through the automation classes: Api.dll is
# registered, api/example/walkthrough.vbs administers a second fresh folder
# under cscript, the files it left are listed, and Api.dll is unregistered
# again. It runs the delivered 32-bit build where the host can execute i386
# code, the 64-bit build otherwise (VM_NO_I386=1 forces the latter).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
bash scripts/setup.sh
source scripts/wine-env.sh
if vm_host_runs_i386; then
  preset=windows bits=32
  echo "example: running the 32-bit build"
else
  preset=windows64 bits=64
  echo "example: this host cannot execute i386 code; running the 64-bit build of the same sources"
fi
vm_wine_env "$bits"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" --target Api walkthrough
bash scripts/wine-prefix.sh "$bits"
install="$here/build/example-install"
scripted="$here/build/example-script-install"
rm -rf "$install" "$install.ilds" "$scripted"
mkdir -p "$install" "$scripted"
cp api/sdk/APIConst.inc "$install/"
cp api/sdk/APIConst.inc "$scripted/"
win() { echo "Z:${1//\//\\}"; }
dll="$(win "$here/build/$preset/api/Api.dll")"
trap '"$WINELOADER" regsvr32 /u /s "$dll" >/dev/null 2>&1; bash scripts/wine-stop.sh "$bits"' EXIT
bash scripts/wine-start.sh "$bits"
"$WINELOADER" "build/$preset/api/example/walkthrough.exe" "build/$preset/api/Api.dll" "$(win "$install")"

echo
echo "example: the same through the automation classes (api/example/walkthrough.vbs)"
"$WINELOADER" regsvr32 /s "$dll"
"$WINELOADER" cscript //nologo "$(win "$here/api/example/walkthrough.vbs")" "$(win "$scripted")"
echo "files in $scripted:"
(cd "$scripted" && find . -type f | sed 's|^\./|  |' | sort)
"$WINELOADER" regsvr32 /u /s "$dll"
