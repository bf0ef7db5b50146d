#!/usr/bin/env bash
# Wall time of one full ISP tree scan (reverse lookups of .1 to .255 of the
# test hosts' block, names from the test name server) beside a shell loop of
# `getent hosts` over the same 255 addresses, in the same run, on the same
# network. Root only (it builds the test network).
#
#   bench/isptree_bench.sh [BUILD_DIR] [RUNS]
#
# Prints the median wall time of RUNS runs of each.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
runs=${2:-3}
net="$src/tests/support/testnet.sh"
prefix="idx$$-"
base=10.200.3

[ "$(id -u)" -eq 0 ] || { echo "isptree_bench: needs root (network namespaces)" >&2; exit 1; }
cmake -S "$src" -B "$build" >/dev/null
cmake --build "$build" --target isptree_once -j2 >/dev/null
scanner=$(find "$build" -name isptree_once -type f -perm -u+x | head -1)

cleanup() { bash "$net" down "$prefix" >/dev/null 2>&1 || true; }
trap cleanup EXIT
bash "$net" up "$prefix" >/dev/null

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ms_since() { echo $(( ($(date +%s%N) - $1) / 1000000 )); }

echo "tree (TISPTree, Map $base.10):"
QT_QPA_PLATFORM=offscreen bash "$net" exec "$prefix" client "$scanner" "$base.10" 2>/dev/null | sed 's/^/  /'

# The scan as the window runs it, timed inside the process from the click.
scan=$(for _ in $(seq "$runs"); do
  QT_QPA_PLATFORM=offscreen bash "$net" exec "$prefix" client "$scanner" "$base.10" 2>/dev/null \
    | sed -n 's/^wall \([0-9]*\) ms$/\1/p'
done | median)

# The same 255 reverse lookups from a shell loop, timed inside the namespace
# so the exec wrapper's start-up is not counted; the named addresses must
# come back, or the figure would time a failure.
loop=$(for _ in $(seq "$runs"); do
  bash "$net" exec "$prefix" client bash -c '
    t0=$(date +%s%N)
    found=$(for i in $(seq 1 255); do getent hosts '"$base"'.$i || true; done | wc -l)
    t1=$(date +%s%N)
    [ "$found" -ge 4 ] || { echo "getent found only $found names" >&2; exit 1; }
    echo $(( (t1 - t0) / 1000000 ))'
done | median)

echo "median wall time of $runs runs over $base.1 to $base.255:"
printf '  TISPTree scan (Map to the end):   %6d ms\n' "$scan"
printf '  getent hosts loop (255 calls):    %6d ms\n' "$loop"
