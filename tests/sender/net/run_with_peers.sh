#!/usr/bin/env bash
# Runs one program of the sender tests or benchmarks with the network peers
# it talks to, each on free high ports of the loopback chosen now: dnsmasq
# serving the test zone, peers.py (raw DNS scenarios, TCP servers on
# 127.0.0.1 and [::1]) and smtp_peers.py (aiosmtpd on both, scripted raw SMTP
# servers, their report port). The ports reach the program as VM_DNS_PORT,
# VM_SCENARIO_PORT, VM_CLOSED_PORT, VM_TCP4_PORT and VM_TCP6_PORT (empty: no
# [::1]), and VM_SMTP4_PORT, VM_SMTP6_PORT, VM_S_<SCENARIO>_PORT and
# VM_REPORT_PORT. A Windows program runs under Wine. Whatever happens, the peers
# started here are stopped by their process ids.
#   run_with_peers.sh PROGRAM [ARGS...]
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
work="$(mktemp -d)"
pids=()
stop() {
  for pid in "${pids[@]}"; do kill "$pid"; done
  for pid in "${pids[@]}"; do wait "$pid"; done
  rm -rf "$work"
} 2>/dev/null
trap stop EXIT
trap 'exit 143' TERM INT

# Each peer script prints NAME=port lines, then READY.
for script in peers.py smtp_peers.py; do
  /usr/bin/python3 "$here/$script" >"$work/$script.ports" 2>"$work/$script.log" &
  pids+=($!)
done
for script in peers.py smtp_peers.py; do
  for _ in $(seq 100); do
    grep -q '^READY' "$work/$script.ports" && break
    sleep 0.1
  done
  if ! grep -q '^READY' "$work/$script.ports"; then
    echo "run_with_peers: $script did not start" >&2
    cat "$work/$script.log" >&2
    exit 1
  fi
  while IFS='=' read -r name value; do
    [ "$name" = READY ] || export "VM_${name}_PORT=$value"
  done <"$work/$script.ports"
done

# The test zone; nothing outside "test" is answered (REFUSED).
zone=(--host-record=mx6.test,2001:db8::25 --host-record=loop6.test,::1 --host-record=v4only.test,192.0.2.7
  --cname=alias.test,mx6.test --cname=c4.test,v4only.test --mx-host=test,mx6.test,10
  --ptr-record=1.2.0.192.in-addr.arpa,ptr.test)
for i in $(seq 12); do zone+=(--txt-record=t12.test,text$i); done
for i in $(seq 40); do zone+=(--host-record=many.test,2001:db8::$i --host-record=many4.test,192.0.2.$i); done

# A port found free may be taken before dnsmasq binds it: try a few.
for _ in 1 2 3 4 5; do
  port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  dnsmasq --no-daemon --conf-file=/dev/null --pid-file= --log-facility=- --port="$port" \
    --listen-address=127.0.0.1 --bind-interfaces --no-resolv --no-hosts --local=/test/ "${zone[@]}" \
    >"$work/dnsmasq.log" 2>&1 &
  pid=$!
  for _ in $(seq 50); do
    grep -q 'started' "$work/dnsmasq.log" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null && grep -q 'started' "$work/dnsmasq.log"; then
    pids+=("$pid")
    export VM_DNS_PORT="$port"
    break
  fi
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
done
if [ -z "${VM_DNS_PORT:-}" ]; then
  echo "run_with_peers: dnsmasq did not start" >&2
  cat "$work/dnsmasq.log" >&2
  exit 1
fi

# Should this script be killed before it can stop them, the watcher does.
(
  while kill -0 $$ 2>/dev/null; do sleep 1; done
  kill "${pids[@]}" 2>/dev/null
) &
pids=($! "${pids[@]}")

case "$1" in
  *.exe) "$root/scripts/wine-run.sh" "$@" ;;
  *) "$@" ;;
esac
