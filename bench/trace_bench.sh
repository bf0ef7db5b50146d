#!/usr/bin/env bash
# Wall time of one traceroute with hop names over the three-hop test route
# (client, r1, r2, host; names from the test name server): TMSTrace beside
# `traceroute -I -q 1` and `tracepath`, in the same run, on the same network.
# Root only (it builds the test network). Needs the traceroute and
# iputils-tracepath packages; installs them when missing.
#
#   bench/trace_bench.sh [BUILD_DIR] [RUNS]
#
# Prints the median wall time of RUNS traces of each.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
runs=${2:-5}
net="$src/tests/support/testnet.sh"
prefix="idx$$-"
target=host.idlix.test

[ "$(id -u)" -eq 0 ] || { echo "trace_bench: needs root (network namespaces)" >&2; exit 1; }
if ! command -v traceroute >/dev/null || ! command -v tracepath >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    traceroute iputils-tracepath >/dev/null
fi
cmake -S "$src" -B "$build" >/dev/null
cmake --build "$build" --target trace_once -j2 >/dev/null
tracer=$(find "$build" -name trace_once -type f -perm -u+x | head -1)

cleanup() { bash "$net" down "$prefix" >/dev/null 2>&1 || true; }
trap cleanup EXIT
bash "$net" up "$prefix" >/dev/null

# Milliseconds one command takes inside the client; its output must show the
# target reached, or the figure would time a failure.
timed() {
  local out t0 t1
  t0=$(date +%s%N)
  out=$(bash "$net" exec "$prefix" client "$@" 2>&1)
  t1=$(date +%s%N)
  grep -q "10.200.3.10\|host.idlix.test" <<<"$(tail -2 <<<"$out")" \
    || { echo "trace_bench: '$*' did not reach the target:" >&2; echo "$out" >&2; exit 1; }
  echo $(( (t1 - t0) / 1000000 ))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The exec wrapper's own start-up is part of every figure alike; measure it.
base=$(for _ in $(seq "$runs"); do
  t0=$(date +%s%N); bash "$net" exec "$prefix" client true; t1=$(date +%s%N)
  echo $(( (t1 - t0) / 1000000 ))
done | median)

echo "route (TMSTrace):"
bash "$net" exec "$prefix" client "$tracer" "$target" | sed 's/^/  /'
a=$(for _ in $(seq "$runs"); do timed "$tracer" "$target"; done | median)
b=$(for _ in $(seq "$runs"); do timed traceroute -I -q 1 "$target"; done | median)
c=$(for _ in $(seq "$runs"); do timed tracepath "$target"; done | median)
# From Start to OnFinished inside the process, without its start-up.
inner=$(for _ in $(seq "$runs"); do
  bash "$net" exec "$prefix" client "$tracer" "$target" | sed -n 's/^wall \([0-9]*\) ms$/\1/p'
done | median)
echo "median wall time of $runs traces to $target (3 hops, with names), less ${base} ms of netns exec:"
printf '  TMSTrace (async):     %5d ms   (%d ms from Start to OnFinished)\n' $((a - base)) "$inner"
printf '  traceroute -I -q 1:   %5d ms\n' $((b - base))
printf '  tracepath:            %5d ms\n' $((c - base))
