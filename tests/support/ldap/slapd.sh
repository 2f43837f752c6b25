#!/usr/bin/env bash
# A directory server of the tests' own: slapd on a free port of 127.0.0.1,
# its database, configuration and stats log in DIR. "start" returns once it
# answers and holds the seed entries, and writes DIR/slapd.info (port, pid,
# suffix, root DN and password); "stop" ends that process by its id.
#   slapd.sh start|stop DIR
set -u
action=${1:?start or stop}
dir=${2:?directory}
suffix="dc=example,dc=test"
rootdn="cn=admin,$suffix"
rootpw="secret"

stop() {
  [ -f "$dir/slapd.info" ] || return 0
  local pid
  pid=$(sed -n 's/^pid=//p' "$dir/slapd.info")
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -CONT "$pid" 2>/dev/null # a test may have left it stopped
    kill "$pid"
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
  fi
  rm -f "$dir/slapd.info"
}

if [ "$action" = stop ]; then
  stop
  exit 0
fi

stop
rm -rf "$dir"
mkdir -p "$dir/db"
cat >"$dir/slapd.conf" <<CONF
include /etc/ldap/schema/core.schema
include /etc/ldap/schema/cosine.schema
include /etc/ldap/schema/inetorgperson.schema
modulepath /usr/lib/ldap
moduleload back_mdb
database mdb
suffix "$suffix"
rootdn "$rootdn"
rootpw $rootpw
directory $dir/db
CONF

seed() {
  cat <<LDIF
dn: $suffix
objectClass: dcObject
objectClass: organization
dc: example
o: Example

dn: ou=people,$suffix
objectClass: organizationalUnit
ou: people

dn: ou=example.test,$suffix
objectClass: organizationalUnit
ou: example.test
LDIF
}

# A port found free may be taken before slapd binds it: try a few.
for _ in 1 2 3 4 5; do
  port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  url="ldap://127.0.0.1:$port/"
  /usr/sbin/slapd -d stats -h "$url" -f "$dir/slapd.conf" >"$dir/slapd.log" 2>&1 </dev/null &
  pid=$!
  up=0
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    if ldapsearch -x -LLL -H "$url" -b "" -s base namingContexts >/dev/null 2>&1; then
      up=1
      break
    fi
    sleep 0.05
  done
  if [ "$up" = 1 ]; then
    if ! seed | ldapadd -x -H "$url" -D "$rootdn" -w "$rootpw" >"$dir/seed.log" 2>&1; then
      cat "$dir/seed.log" >&2
      kill "$pid"
      exit 1
    fi
    printf 'port=%s\npid=%s\nsuffix=%s\nrootdn=%s\nrootpw=%s\n' "$port" "$pid" "$suffix" "$rootdn" "$rootpw" \
      >"$dir/slapd.info"
    exit 0
  fi
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
done
echo "slapd.sh: slapd did not start" >&2
cat "$dir/slapd.log" >&2
exit 1
