#!/usr/bin/env bash
# Runs bench_ldap_sync (windows64 build) under Wine against a slapd of its
# own on a free loopback port, stopped by its process id afterwards.
#   bench/bench_ldap_sync.sh [BUILD_DIR]
set -u
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/windows64}"
work="$(mktemp -d)"
trap 'bash "$root/tests/support/ldap/slapd.sh" stop "$work/slapd"; rm -rf "$work"' EXIT
bash "$root/tests/support/ldap/slapd.sh" start "$work/slapd" || exit 1
port=$(sed -n 's/^port=//p' "$work/slapd/slapd.info")
rootpw=$(sed -n 's/^rootpw=//p' "$work/slapd/slapd.info")
client="Z:$(echo "$build/tests/core/ldap/LDAP32.dll" | tr / '\\')"
"$root/scripts/wine-run.sh" "$build/bench/bench_ldap_sync.exe" "$port" "$rootpw" "$client"
