#!/usr/bin/env bash
# Wall time of one traceroute with hop names on the test network, TMSTrace
# (set up as the window sets it up: test echo, hop limit 64) beside
# `traceroute -I -q 1` (one probe per hop, as TMSTrace sends) in the same run:
#   - the three-hop route to host.idlix.test (with tracepath too);
#   - the four-hop route to beyond.idlix.test whose third router never
#     answers, with each tool's default time-out (TMSTrace 15 s, traceroute
#     5 s) and with 2 s. traceroute's "-w 2" also drops its adaptive waits
#     (it then waits the whole 2 s for the silent hop); "-w 2,3,10" keeps them.
# Root only (it builds the test network). Needs the traceroute and
# iputils-tracepath packages; installs them when missing.
#
#   bench/trace_bench.sh [BUILD_DIR] [RUNS]
#
# Prints the median wall time of RUNS traces of each (the whole process, timed
# inside the client host) and TMSTrace's time as a multiple of traceroute's.
# TRACE_ONCE_BIN names another trace_once build to measure (before/after).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
runs=${2:-5}
net="$src/tests/support/testnet.sh"
prefix="idx$$-"

[ "$(id -u)" -eq 0 ] || { echo "trace_bench: needs root (network namespaces)" >&2; exit 1; }
if ! command -v traceroute >/dev/null || ! command -v tracepath >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    traceroute iputils-tracepath >/dev/null
fi
cmake -S "$src" -B "$build" >/dev/null
cmake --build "$build" --target trace_once -j2 >/dev/null
tracer=${TRACE_ONCE_BIN:-$(find "$build" -name trace_once -type f -perm -u+x | head -1)}

cleanup() { bash "$net" down "$prefix" >/dev/null 2>&1 || true; }
trap cleanup EXIT
bash "$net" up "$prefix" >/dev/null
bash "$net" silent "$prefix" >/dev/null

# Milliseconds one command takes, timed inside the client by the shell that
# starts it (so the start-up of `ip netns exec` is not counted); the last
# lines of its output must show the target (address or name) reached, or the
# figure would time a failure.
target_seen=
timed() {
  local out
  out=$(bash "$net" exec "$prefix" client bash -c '
    t0=$EPOCHREALTIME; out=$("$@" 2>&1); t1=$EPOCHREALTIME
    printf "%s\n@ms %s\n" "$out" "$(awk -v a="$t0" -v b="$t1" "BEGIN { printf \"%d\", (b - a) * 1000 }")"' _ "$@")
  grep -q "$target_seen" <<<"$(grep -v '^@ms ' <<<"$out" | tail -2)" \
    || { echo "trace_bench: '$*' did not reach the target:" >&2; echo "$out" >&2; exit 1; }
  sed -n 's/^@ms //p' <<<"$out"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
runs_of() { for _ in $(seq "$runs"); do timed "$@"; done | median; }

row() {   # label ms [reference-ms [second-reference-ms]]
  if [ -n "${4:-}" ]; then
    awk -v l="$1" -v a="$2" -v b="$3" -v c="$4" 'BEGIN {
      printf "  %-40s %7d ms   %6.2f x traceroute (first), %.2f x (second)\n", l, a,
        (b > 0 ? a / b : 0), (c > 0 ? a / c : 0) }'
  elif [ -n "${3:-}" ]; then
    awk -v l="$1" -v a="$2" -v b="$3" 'BEGIN {
      printf "  %-40s %7d ms   %6.2f x traceroute\n", l, a, (b > 0 ? a / b : 0) }'
  else
    printf '  %-40s %7d ms\n' "$1" "$2"
  fi
}

echo "whole process, timed inside the client host; median of $runs runs each"
echo
echo "three hops to host.idlix.test, every hop answers:"
bash "$net" exec "$prefix" client "$tracer" host.idlix.test | sed 's/^/    /'
target_seen="10.200.3.10\|host.idlix.test"
b=$(runs_of traceroute -I -q 1 host.idlix.test)
a=$(runs_of "$tracer" host.idlix.test)
c=$(runs_of tracepath host.idlix.test)
row "TMSTrace (async)" "$a" "$b"
row "traceroute -I -q 1" "$b"
row "tracepath" "$c"

echo
echo "four hops to beyond.idlix.test, the third router never answers:"
bash "$net" exec "$prefix" client "$tracer" beyond.idlix.test async 2000 | sed 's/^/    /'
target_seen="10.200.4.10\|beyond.idlix.test"
b=$(runs_of traceroute -I -q 1 beyond.idlix.test)
a=$(runs_of "$tracer" beyond.idlix.test async)
row "TMSTrace (async), time-out 15 s" "$a" "$b"
a=$(runs_of "$tracer" beyond.idlix.test blocking)
row "TMSTrace (blocking), time-out 15 s" "$a" "$b"
row "traceroute -I -q 1 (-w 5,3,10)" "$b"
b=$(runs_of traceroute -I -q 1 -w 2 beyond.idlix.test)
b2=$(runs_of traceroute -I -q 1 -w 2,3,10 beyond.idlix.test)
a=$(runs_of "$tracer" beyond.idlix.test async 2000)
row "TMSTrace (async), time-out 2 s" "$a" "$b" "$b2"
row "traceroute -I -q 1 -w 2" "$b"
row "traceroute -I -q 1 -w 2,3,10" "$b2"
