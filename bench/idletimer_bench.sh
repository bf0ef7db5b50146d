#!/usr/bin/env bash
# The idle-timer finder against the NAT of the test network: r1 made a NAT
# (nftables masquerade) whose conntrack timeouts are set to each TIMER in
# turn, the reflector on the host, `idlix --find-idle-timer` on the client.
# For each kind and timer: the timer set, the timer found, the time the
# measurement took, and the bytes the client sent (counted by an nftables
# counter on r1 for everything the client sent to the reflector, headers
# included, beside the finder's own count). The timers run side by side,
# each in a network of its own.
#
#   bench/idletimer_bench.sh [BUILD_DIR] [KINDS] [TIMERS]
#   e.g. bench/idletimer_bench.sh build "udp tcp" "30 120 300"
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
kinds=${2:-udp tcp}
timers=${3:-30 120 300}
net="$src/tests/support/testnet.sh"
[ "$(id -u)" -eq 0 ] || { echo "idletimer_bench: needs root (network namespaces)" >&2; exit 1; }
cmake --build "$build" --target idlix-headless -j2 >/dev/null
# `idlix --reflector` and `idlix --find-idle-timer` hand over to this program.
idlix="$build/idlix-headless"

work=$(mktemp -d /tmp/idletimer_bench.XXXXXX)
printf '[Reflector]\r\nKey=idle timer benchmark key\r\n' >"$work/idlix2.ini"
prefixes=()
cleanup() {
  for p in "${prefixes[@]}"; do "$net" down "$p" >/dev/null 2>&1 || true; done
}
trap cleanup EXIT

run_one() {
  local kind=$1 timer=$2 p=$3 out=$4
  "$net" up "$p" >/dev/null
  # The timer under test for this kind; the other one long, out of the way.
  if [ "$kind" = udp ]; then "$net" nat "$p" "$timer" 7200; else "$net" nat "$p" 600 "$timer"; fi
  "$net" exec "$p" r1 nft add table ip idlixbench
  "$net" exec "$p" r1 nft add chain ip idlixbench count '{ type filter hook forward priority 10; }'
  "$net" exec "$p" r1 nft add rule ip idlixbench count iifname eth0 ip daddr 10.200.3.10 counter
  IDLIX_DIR="$work" "$net" exec "$p" host "$idlix" --reflector >"$out.reflector" 2>&1 &
  sleep 1
  local start end
  start=$(date +%s)
  IDLIX_DIR="$work" "$net" exec "$p" client "$idlix" --find-idle-timer "$kind" \
    --reflector 10.200.3.10 >"$out" 2>&1 || true
  end=$(date +%s)
  local wire
  wire=$("$net" exec "$p" r1 nft list chain ip idlixbench count | sed -n 's/.*bytes \([0-9]*\).*/\1/p')
  echo "$kind $timer $((end - start)) ${wire:-?}" >"$out.row"
  "$net" down "$p" >/dev/null 2>&1 || true
}

i=0
for kind in $kinds; do
  for timer in $timers; do
    p="idx$$-$i-"; prefixes+=("$p")
    run_one "$kind" "$timer" "$p" "$work/$kind-$timer" &
    i=$((i + 1))
    sleep 2
  done
done
wait

printf '%-5s %9s %-44s %9s %11s %11s\n' kind "timer set" "timer found" "time (s)" "bytes (wire)" "bytes (own)"
for kind in $kinds; do
  for timer in $timers; do
    read -r k t secs wire <"$work/$kind-$timer.row"
    found=$(tail -n1 "$work/$kind-$timer" | sed 's/^[a-z]* idle timer: //')
    own=$(grep -E '^[0-9]+ trials' "$work/$kind-$timer" | awk '{print $3}')
    printf '%-5s %9s %-44s %9s %11s %11s\n' "$k" "$t" "$found" "$secs" "$wire" "${own:-?}"
  done
done
echo "(outputs in $work)"
