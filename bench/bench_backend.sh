#!/usr/bin/env bash
# Runs bench_backend (DB.dll on SQLite, 100,000 accounts) under Wine and then
# the sqlite3 command-line tool over the same look-ups in the same file, and
# prints the ratio of DBGetUsersIndex to the tool's look-up.
#   bench/bench_backend.sh [build folder]   (default build/windows64)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build/windows64}"
exe="$build/bench/bench_backend.exe"
[ -f "$exe" ] || { echo "build it first: cmake --build --preset windows64 --target bench_backend" >&2; exit 2; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ODBCSYSINI="$build/odbc"
out="$("$here/scripts/wine-run.sh" "$exe" "$work")"
echo "$out" | grep -v '^backend_index_ours_ns='
ours=$(echo "$out" | sed -n 's/^backend_index_ours_ns=//p')
count=$(wc -l <"$work/lookups.sql")
sqlite3 "$work/ours.db" <"$work/lookups.sql" >/dev/null  # warm
start=$(date +%s%N)
sqlite3 "$work/ours.db" <"$work/lookups.sql" >/dev/null
stop=$(date +%s%N)
baseline=$(((stop - start) / count))
awk -v o="$ours" -v b="$baseline" 'BEGIN { printf "backend_index ours=%d baseline=%d ratio=%.2f\n", o, b, (b > 0 ? o / b : 0) }'
