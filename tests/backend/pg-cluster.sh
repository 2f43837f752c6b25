#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the back-end tests, on 127.0.0.1 and a
# free port chosen now:
#   pg-cluster.sh start DIR   initialises the cluster under DIR (once) and
#                             starts the server; writes DIR/connection (the
#                             ODBC connection text) or, when no server could
#                             be started, DIR/unavailable with the reason
#   pg-cluster.sh stop DIR    stops it
# Always exits 0: a missing server is reported by the tests that need it.
# The server refuses to run as root, so as root it runs as "postgres"; when
# that user cannot reach DIR (a build tree inside a private folder), the
# cluster lives in a folder of its own under /tmp, named in DIR/home, and is
# removed when stopped.
set -u
action=$1
dir=$2
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
home="$dir"
[ -f "$dir/home" ] && home="$(cat "$dir/home")"

as_owner() {
  if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
stop() {
  [ -n "$bin" ] && [ -f "$home/data/postmaster.pid" ] && as_owner "$bin/pg_ctl" -D "$home/data" -m immediate -w stop >/dev/null 2>&1
}
unavailable() {
  rm -f "$dir/connection"
  echo "$1" >"$dir/unavailable"
  echo "postgres: no server: $1"
  exit 0
}

if [ "$action" = stop ]; then
  stop
  # A cluster outside the build tree goes with the run.
  if [ "$home" != "$dir" ]; then rm -rf "$home" "$dir/home"; fi
  exit 0
fi

rm -f "$dir/unavailable" "$dir/connection"
[ -n "$bin" ] && [ -x "$bin/initdb" ] || unavailable "the postgresql server package is not installed"
if [ "$(id -u)" = 0 ]; then
  id postgres >/dev/null 2>&1 || unavailable "running as root and there is no postgres user"
  chown postgres "$dir" 2>/dev/null
  if ! runuser -u postgres -- test -w "$home"; then
    home="$(mktemp -d /tmp/vm-pgcluster.XXXXXX)" && chown postgres "$home" && echo "$home" >"$dir/home" ||
      unavailable "no folder the postgres user can write"
  fi
fi
stop
if [ ! -f "$home/data/PG_VERSION" ]; then
  rm -rf "$home/data"
  as_owner "$bin/initdb" -D "$home/data" -U vmtest --auth=trust -E UTF8 --no-locale >"$dir/initdb.log" 2>&1 ||
    unavailable "initdb failed (see $dir/initdb.log)"
fi
# A free port: the kernel's choice for a socket bound to port 0. Another
# process may take it before the server does, so try a few times. TCP only:
# no socket file, whose path length would depend on the build tree's.
for attempt in 1 2 3 4 5; do
  port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  if as_owner "$bin/pg_ctl" -D "$home/data" -w -t 30 -l "$home/server.log" \
    -o "-c listen_addresses=127.0.0.1 -p $port -k '' -c fsync=off" start >/dev/null 2>&1; then
    echo "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=postgres;UID=vmtest;PWD=x" >"$dir/connection"
    echo "postgres: server on 127.0.0.1:$port"
    exit 0
  fi
done
unavailable "the server did not start (see $home/server.log)"
