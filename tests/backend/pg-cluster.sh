#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the back-end tests, on 127.0.0.1 and a
# free port chosen now:
#   pg-cluster.sh start DIR   initialises DIR/data (once) and starts the
#                             server; writes DIR/connection (the ODBC
#                             connection text) or, when no server could be
#                             started, DIR/unavailable with the reason
#   pg-cluster.sh stop DIR    stops it
# Always exits 0: a missing server is reported by the tests that need it.
# The server refuses to run as root, so as root it runs as "postgres".
set -u
action=$1
dir=$2
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)

as_owner() {
  if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
unavailable() {
  rm -f "$dir/connection"
  echo "$1" >"$dir/unavailable"
  echo "postgres: no server: $1"
  exit 0
}

if [ "$action" = stop ]; then
  [ -n "$bin" ] && [ -f "$dir/data/postmaster.pid" ] && as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1
  exit 0
fi

rm -f "$dir/unavailable" "$dir/connection"
[ -n "$bin" ] && [ -x "$bin/initdb" ] || unavailable "the postgresql server package is not installed"
[ "$(id -u)" != 0 ] || id postgres >/dev/null 2>&1 || unavailable "running as root and there is no postgres user"
if [ "$(id -u)" = 0 ]; then chown postgres "$dir" || unavailable "cannot hand $dir to the postgres user"; fi
if [ -f "$dir/data/postmaster.pid" ]; then as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1; fi
if [ ! -f "$dir/data/PG_VERSION" ]; then
  rm -rf "$dir/data"
  as_owner "$bin/initdb" -D "$dir/data" -U vmtest --auth=trust -E UTF8 --no-locale >"$dir/initdb.log" 2>&1 ||
    unavailable "initdb failed (see $dir/initdb.log)"
fi
# A free port: the kernel's choice for a socket bound to port 0. Another
# process may take it before the server does, so try a few times.
for attempt in 1 2 3 4 5; do
  port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  if as_owner "$bin/pg_ctl" -D "$dir/data" -w -t 30 -l "$dir/server.log" \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off" start >/dev/null 2>&1; then
    echo "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=postgres;UID=vmtest;PWD=x" >"$dir/connection"
    echo "postgres: server on 127.0.0.1:$port"
    exit 0
  fi
done
unavailable "the server did not start (see $dir/server.log)"
