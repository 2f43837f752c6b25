# Sourced by the shell benchmarks that time one Windows tool under Wine:
#   source bench/wine_bench.sh NAME DEFAULT_TOOL TARGET [TOOL]
# NAME names the benchmark in messages; DEFAULT_TOOL is the tool's path under
# build/windows64, used when TOOL is not given; TARGET is the build target
# named when it is missing. Sets here (the project), tool, bits (its prefix)
# and work (a temporary folder), prepares the prefix and keeps its wineserver
# running; on exit both are stopped and removed. Defines now, seconds FROM TO,
# ratio OURS BASE and win PATH (the path as Wine sees it).
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
tool="${4:-$here/build/windows64/$2}"
[ -f "$tool" ] || { echo "$1: build $tool first (cmake --build --preset windows64 --target $3)" >&2; exit 1; }
source "$here/scripts/wine-env.sh"
bits=$(vm_pe_bits "$tool")
work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
trap 'bash "$here/scripts/wine-stop.sh" "$bits"; rm -rf "$work"' EXIT
bash "$here/scripts/wine-prefix.sh" "$bits"
bash "$here/scripts/wine-start.sh" "$bits"

now() { date +%s.%N; }
seconds() { echo "$2 - $1" | bc; }
ratio() { echo "scale=2; $1 / $2" | bc; }
win() { echo "Z:${1//\//\\}"; }
