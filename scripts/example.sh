#!/usr/bin/env bash
# Installs what is missing, builds the Windows libraries and runs the example
# of the main job under Wine: a client loads Api.dll, starts a session on a
# fresh installation folder, saves it, backs it up beside the folder, changes
# a setting, restores the backup and ends the session. It runs the delivered 32-bit
# build where the host can execute i386 code, the 64-bit build otherwise
# (VM_NO_I386=1 forces the latter).
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
rm -rf "$install" "$install.ilds"
mkdir -p "$install"
cp api/sdk/APIConst.inc "$install/"
trap 'bash scripts/wine-stop.sh "$bits"' EXIT
bash scripts/wine-start.sh "$bits"
"$WINELOADER" "build/$preset/api/example/walkthrough.exe" "build/$preset/api/Api.dll" "Z:${install//\//\\}"
