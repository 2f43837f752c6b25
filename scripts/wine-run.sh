#!/usr/bin/env bash
# Runs one Windows program under the project's Wine prefix of its own kind:
# the 32-bit prefix for an i686 program, the 64-bit one for an x86_64 one
# (read from the program's header). scripts/wine-prefix.sh creates them.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
vm_wine_env "$(vm_pe_bits "$1")"
exec "$WINELOADER" "$@"
