#!/usr/bin/env bash
# Round trips of TPing against iputils ping, to the same test host behind the
# delaying echo responder, in one go. Root only (it builds the test network).
# With FAMILY 6 both send ICMPv6 echoes to the test host's IPv6 address
# (answered by its kernel; the responder speaks IPv4 only, so DELAY_MS is
# not used) and iputils runs as "ping -6".
#
#   bench/ping_bench.sh [BUILD_DIR] [DELAY_MS] [COUNT] [4|6] [idle|loaded]
#
# "loaded" keeps both cores busy (one spinning process per core, outside the
# namespaces) while the two measure, as a user's machine is when it compiles.
# Prints the mean round trip of each and the mean absolute difference between
# the i-th echo of one and the i-th of the other.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
delay=${2:-120}
count=${3:-50}
family=${4:-4}
load=${5:-idle}
net="$src/tests/support/testnet.sh"
prefix="idx$$-"

[ "$(id -u)" -eq 0 ] || { echo "ping_bench: needs root (network namespaces)" >&2; exit 1; }
command -v ping >/dev/null || { echo "ping_bench: iputils ping is missing (apt-get install iputils-ping)" >&2; exit 1; }
cmake -S "$src" -B "$build" >/dev/null
cmake --build "$build" --target tping_echo echo_responder -j2 >/dev/null
tping=$(find "$build" -name tping_echo -type f -perm -u+x | head -1)
responder=$(find "$build" -name echo_responder -type f -perm -u+x | head -1)

spinners=()
cleanup() {
  for p in "${spinners[@]}"; do kill "$p" 2>/dev/null || true; done
  bash "$net" down "$prefix" >/dev/null 2>&1 || true
  rm -f "/tmp/${prefix}"*
}
trap cleanup EXIT
bash "$net" up "$prefix" >/dev/null
if [ "$family" = 6 ]; then
  target=fd00:200:3::10
  delay=0
else
  ready="/tmp/${prefix}ready"
  bash "$net" exec "$prefix" slow "$responder" --delay "$delay" --ready "$ready" &
  for _ in $(seq 1 100); do [ -e "$ready" ] && break; sleep 0.05; done
  target=10.200.3.30
fi

if [ "$load" = loaded ]; then
  for _ in $(seq 1 "$(nproc)"); do
    sh -c 'while :; do :; done' &
    spinners+=($!)
  done
fi
bash "$net" exec "$prefix" client "$tping" "$target" "$count" 200 >"/tmp/${prefix}tping"
bash "$net" exec "$prefix" client ping "-$family" -n -c "$count" -i 0.2 -W 5 "$target" \
  | sed -n 's/.*icmp_seq=\([0-9]*\).*time=\([0-9.]*\) ms.*/\2/p' >"/tmp/${prefix}iputils"

paste "/tmp/${prefix}tping" "/tmp/${prefix}iputils" | awk -v n="$count" -v d="$delay" -v t="$target" -v l="$load" '
  $1 ~ /^[0-9.]+$/ && $2 ~ /^[0-9.]+$/ { a += $1; b += $2; diff += ($1 > $2 ? $1 - $2 : $2 - $1); k++ }
  END {
    if (k == 0) { print "no pairs of replies"; exit 1 }
    printf "echoes to %s: %d of %d answered by both, responder delay %d ms, machine %s\n", t, k, n, d, l
    printf "TPing mean round trip:   %.3f ms\n", a / k
    printf "iputils mean round trip: %.3f ms\n", b / k
    printf "difference of the means:  %.3f ms\n", (a - b) / k
    printf "mean absolute difference: %.3f ms\n", diff / k
  }'
