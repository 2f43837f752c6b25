# Sourced by the other scripts: the environment of one of the project's two
# Wine prefixes. The 32-bit one (build/wineprefix) runs the delivered i686
# programs; the 64-bit one (build/wineprefix64) runs the x86_64 test build
# where the host cannot execute i386 code. Debian's "wine" wrapper picks the
# 32-bit loader whenever wine32 is installed, so the loader is named here.
#   vm_wine_env 32|64   exports WINEPREFIX, WINEARCH, WINELOADER, WINESERVER
#                       (and the locale: VM_WINE_LOCALE, else C.UTF-8)
#   vm_pe_bits FILE     prints 32 or 64 from a Windows program's header
#   vm_host_runs_i386   true when this host can execute i386 code; setting
#                       VM_NO_I386=1 makes it false, to try the 64-bit-only path
vm_here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

vm_wine_env() {
  local locale="${VM_WINE_LOCALE:-C.UTF-8}"
  export WINEDEBUG="${WINEDEBUG:--all}" LANG="$locale" LC_ALL="$locale" TZ="${TZ:-UTC}"
  unset DISPLAY
  if [ "$1" = 64 ]; then
    export WINEPREFIX="${VM_WINEPREFIX64:-$vm_here/build/wineprefix64}" WINEARCH=win64
    export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
  else
    export WINEPREFIX="${VM_WINEPREFIX32:-$vm_here/build/wineprefix}" WINEARCH=win32
    export WINELOADER=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32
  fi
}

vm_pe_bits() {
  # e_lfanew at 0x3c, then "PE\0\0" and the machine field.
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  if [ "$machine" = 8664 ]; then echo 64; else echo 32; fi
}

vm_host_runs_i386() {
  [ "${VM_NO_I386:-0}" != 1 ] && [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}
