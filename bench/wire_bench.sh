#!/usr/bin/env bash
# Time on the wire: from the first packet a tool sends to the last packet of
# the job on the client's link (tcpdump inside the client host, on its one
# interface), Idlix beside the reference tool in the same run:
#   - a trace to beyond.idlix.test, whose third router never answers:
#     TMSTrace (async, the window's engine, time-out 2 s) beside
#     `traceroute -I -q 1 -w 2`, hop names included (both resolve them);
#   - an ISP tree of the /24 behind a name server DELAY_MS away (the tests'
#     delaying forwarder in front of dnsmasq) beside `nmap -sL` of the same
#     block through the same server.
# The process start-up and the wait after the last answer do not count: this
# is what the network sees of each tool. Root only (it builds the test
# network); installs tcpdump, traceroute and nmap when missing.
#
#   bench/wire_bench.sh [BUILD_DIR] [RUNS] [DELAY_MS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
runs=${2:-5}
delay=${3:-50}
net="$src/tests/support/testnet.sh"
prefix="idw$$-"
base=10.200.3

[ "$(id -u)" -eq 0 ] || { echo "wire_bench: needs root (network namespaces)" >&2; exit 1; }
missing=()
for tool in tcpdump traceroute nmap; do command -v "$tool" >/dev/null || missing+=("$tool"); done
if [ "${#missing[@]}" -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
cmake -S "$src" -B "$build" -DIDLIX_TESTS=ON >/dev/null
cmake --build "$build" --target trace_once isptree_once dns_delay -j2 >/dev/null
tracer=$(find "$build" -name trace_once -type f -perm -u+x | head -1)
scanner=$(find "$build" -name isptree_once -type f -perm -u+x | head -1)
forwarder=$(find "$build" -name dns_delay -type f -perm -u+x | head -1)

work=$(mktemp -d /tmp/wire_bench.XXXXXX)
forwarder_pid=
cleanup() {
  [ -n "$forwarder_pid" ] && kill "$forwarder_pid" 2>/dev/null || true
  bash "$net" down "$prefix" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
bash "$net" up "$prefix" >/dev/null
bash "$net" silent "$prefix" >/dev/null
forwarder_pid=$(bash "$net" dnsdelay "$prefix" "$forwarder" "$delay")
in_client() { bash "$net" exec "$prefix" client "$@"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# on_wire PATTERN CMD...: the milliseconds from the first packet to the last
# on the client's link while CMD runs; its output must match PATTERN.
on_wire() {
  local pattern=$1 pcap="$work/run.pcap" out; shift
  rm -f "$pcap" "$work/tcpdump.pid" "$work/tcpdump.err"
  # Echoes and names only: the link's own chatter (neighbour discovery,
  # multicast reports) is neither tool's.
  in_client sh -c 'echo $$ >"$2"; exec tcpdump --immediate-mode -i eth0 -n -U -w "$1" "icmp or port 53"' _ "$pcap" \
    "$work/tcpdump.pid" 2>"$work/tcpdump.err" &
  local wrapper=$!
  local ready=
  for _ in $(seq 1 200); do grep -q "listening on" "$work/tcpdump.err" 2>/dev/null && { ready=1; break; }; sleep 0.05; done
  [ -n "$ready" ] || { echo "wire_bench: tcpdump did not start:" >&2; cat "$work/tcpdump.err" >&2; exit 1; }
  out=$(QT_QPA_PLATFORM=offscreen in_client "$@" 2>&1) || true
  sleep 0.3
  kill -INT "$(cat "$work/tcpdump.pid")"
  wait "$wrapper" 2>/dev/null || true
  grep -q "$pattern" <<<"$out" || { echo "wire_bench: '$*' missed '$pattern':" >&2; echo "$out" >&2; exit 1; }
  { tcpdump -r "$pcap" -n -tt 2>/dev/null || true; } \
    | awk 'NR == 1 { a = $1 } { b = $1 } END { printf "%d %d\n", (b - a) * 1000, NR }'
}
runs_of() {   # VAR PATTERN CMD...: VAR := "median-ms packets"
  local var=$1 all; shift
  all=$(for _ in $(seq "$runs"); do on_wire "$@"; done)
  printf -v "$var" '%s %s' "$(awk '{ print $1 }' <<<"$all" | median)" "$(awk '{ print $2 }' <<<"$all" | median)"
}
row() {   # label "ms packets" ["reference-ms packets"]
  local ms packets reference
  read -r ms packets <<<"$2"
  if [ -n "${3:-}" ]; then
    read -r reference _ <<<"$3"
    awk -v l="$1" -v a="$ms" -v p="$packets" -v b="$reference" 'BEGIN {
      printf "  %-36s %6d ms  %4d packets  %.2f x reference\n", l, a, p, (b > 0 ? a / b : 0) }'
  else
    printf '  %-36s %6d ms  %4d packets\n' "$1" "$ms" "$packets"
  fi
}

echo "first packet to last on the client's link; median of $runs runs each"
echo "trace to beyond.idlix.test (four hops, the third silent), names from a server ${delay} ms away:"
runs_of ref "beyond.idlix.test\|10.200.4.10" traceroute -I -q 1 -w 2 beyond.idlix.test
runs_of ours "beyond.idlix.test\|10.200.4.10" "$tracer" beyond.idlix.test async 2000
row "TMSTrace (async, time-out 2 s)" "$ours" "$ref"
row "traceroute -I -q 1 -w 2" "$ref"

echo "ISP tree of $base.0/24 through a name server ${delay} ms away:"
server=$(sed -n 's/^nameserver //p' "/etc/netns/${prefix}client/resolv.conf")
runs_of ref "host.idlix.test" nmap -sL --dns-servers "$server" "$base.0/24"
runs_of ours "host.idlix.test" "$scanner" "$base.10"
row "TISPTree scan" "$ours" "$ref"
row "nmap -sL" "$ref"
