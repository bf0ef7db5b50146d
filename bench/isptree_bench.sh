#!/usr/bin/env bash
# Wall time of one full ISP tree scan (reverse lookups of .1 to .255 of the
# test hosts' block, names from the test name server), in the same run, on
# the same network:
#   - asking dnsmasq directly, beside a shell loop of `getent hosts` over the
#     same 255 addresses;
#   - through a name server 50 ms away (the tests' delaying DNS forwarder in
#     front of dnsmasq), beside `nmap -sL` of the same /24 through the same
#     server.
# Root only (it builds the test network). Installs nmap when missing.
#
#   bench/isptree_bench.sh [BUILD_DIR] [RUNS] [DELAY_MS]
#
# Prints the median wall time of RUNS runs of each. ISPTREE_ONCE_BIN names
# another isptree_once build to measure (before/after).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
runs=${2:-3}
delay=${3:-50}
net="$src/tests/support/testnet.sh"
prefix="idx$$-"
base=10.200.3

[ "$(id -u)" -eq 0 ] || { echo "isptree_bench: needs root (network namespaces)" >&2; exit 1; }
if ! command -v nmap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends nmap >/dev/null
fi
cmake -S "$src" -B "$build" -DIDLIX_TESTS=ON >/dev/null
cmake --build "$build" --target isptree_once dns_delay -j2 >/dev/null
scanner=${ISPTREE_ONCE_BIN:-$(find "$build" -name isptree_once -type f -perm -u+x | head -1)}
forwarder=$(find "$build" -name dns_delay -type f -perm -u+x | head -1)

forwarder_pid=
cleanup() {
  [ -n "$forwarder_pid" ] && kill "$forwarder_pid" 2>/dev/null || true
  bash "$net" down "$prefix" >/dev/null 2>&1 || true
}
trap cleanup EXIT
bash "$net" up "$prefix" >/dev/null

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
in_client() { bash "$net" exec "$prefix" client "$@"; }

# The scan as the window runs it, timed inside the process from the click to
# the end of the scan; the whole process (start-up, window, scan) beside it.
scan_times() {
  local i t0 t1 out
  for i in $(seq "$runs"); do
    t0=$(date +%s%N)
    out=$(QT_QPA_PLATFORM=offscreen in_client "$scanner" "$base.10" 2>/dev/null)
    t1=$(date +%s%N)
    grep -q "host.idlix.test" <<<"$out" || { echo "isptree_bench: the scan missed names:" >&2; echo "$out" >&2; exit 1; }
    echo "$(sed -n 's/^wall \([0-9]*\) ms$/\1/p' <<<"$out") $(( (t1 - t0) / 1000000 ))"
  done
}

# Milliseconds of the exec wrapper's own start-up, taken off whole-process figures.
exec_base=$(for _ in $(seq "$runs"); do
  t0=$(date +%s%N); in_client true; t1=$(date +%s%N)
  echo $(( (t1 - t0) / 1000000 ))
done | median)

echo "tree (TISPTree, Map $base.10):"
QT_QPA_PLATFORM=offscreen in_client "$scanner" "$base.10" 2>/dev/null | sed 's/^/  /'

times=$(scan_times)
scan=$(awk '{ print $1 }' <<<"$times" | median)
whole=$(( $(awk '{ print $2 }' <<<"$times" | median) - exec_base ))

# The same 255 reverse lookups from a shell loop, timed inside the namespace
# so the exec wrapper's start-up is not counted; the named addresses must
# come back, or the figure would time a failure.
loop=$(for _ in $(seq "$runs"); do
  in_client bash -c '
    t0=$(date +%s%N)
    found=$(for i in $(seq 1 255); do getent hosts '"$base"'.$i || true; done | wc -l)
    t1=$(date +%s%N)
    [ "$found" -ge 4 ] || { echo "getent found only $found names" >&2; exit 1; }
    echo $(( (t1 - t0) / 1000000 ))'
done | median)

echo "median wall time of $runs runs over $base.1 to $base.255, name server on the LAN:"
printf '  TISPTree scan (Map to the end):   %6d ms   (whole process %d ms)\n' "$scan" "$whole"
printf '  getent hosts loop (255 calls):    %6d ms\n' "$loop"

# Through the delaying forwarder: the client's resolver asks it, and nmap is
# pointed at it too.
forwarder_pid=$(bash "$net" dnsdelay "$prefix" "$forwarder" "$delay")
times=$(scan_times)
scan=$(awk '{ print $1 }' <<<"$times" | median)
whole=$(( $(awk '{ print $2 }' <<<"$times" | median) - exec_base ))
nmap_ms=$(for _ in $(seq "$runs"); do
  t0=$(date +%s%N)
  out=$(in_client nmap -sL --dns-servers "$(sed -n 's/^nameserver //p' "/etc/netns/${prefix}client/resolv.conf")" "$base.0/24")
  t1=$(date +%s%N)
  grep -q "host.idlix.test" <<<"$out" || { echo "isptree_bench: nmap missed names:" >&2; echo "$out" >&2; exit 1; }
  echo $(( (t1 - t0) / 1000000 - exec_base ))
done | median)
echo "median wall time of $runs runs, name server ${delay} ms away:"
awk -v s="$scan" -v w="$whole" -v n="$nmap_ms" 'BEGIN {
  printf "  TISPTree scan (Map to the end):   %6d ms   %.2f x nmap   (whole process %d ms)\n", s, s / n, w
  printf "  nmap -sL (whole process):         %6d ms\n", n }'
