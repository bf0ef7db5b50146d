#!/usr/bin/env bash
# Wall time of one traceroute with hop names on the test network, TMSTrace
# (set up as the window sets it up: test echo, hop limit 64) beside
# `traceroute -I -q 1` (one probe per hop, as TMSTrace sends) in the same run:
#   - the three-hop route to host.idlix.test (with tracepath too);
#   - the four-hop route to beyond.idlix.test whose third router never
#     answers, with each tool's default time-out (TMSTrace 15 s, traceroute
#     5 s) and with 2 s. traceroute's "-w 2" also drops its adaptive waits
#     (it then waits the whole 2 s for the silent hop); "-w 2,3,10" keeps them;
#   - the same two routes over IPv6 (host.v6.idlix.test, beyond.v6.idlix.test)
#     beside `traceroute -6 -I -q 1`.
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
  grep -q "$target_seen" <<<"$(grep -v '^@ms \|^wall ' <<<"$out" | tail -2)" \
    || { echo "trace_bench: '$*' did not reach the target:" >&2; echo "$out" >&2; exit 1; }
  # TMSTrace also says how long it took from Start to the summary.
  local whole inner
  whole=$(sed -n 's/^@ms //p' <<<"$out")
  inner=$(sed -n 's/^wall \([0-9]*\) ms$/\1/p' <<<"$out")
  echo "$whole ${inner:-$whole}"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# runs_of VAR CMD...: VAR := the median whole-process time of RUNS runs, and
# inner_ms := TMSTrace's median from Start to the summary.
inner_ms=0
runs_of() {
  local var=$1 all; shift
  all=$(for _ in $(seq "$runs"); do timed "$@"; done)
  inner_ms=$(awk '{ print $2 }' <<<"$all" | median)
  printf -v "$var" '%s' "$(awk '{ print $1 }' <<<"$all" | median)"
}

row() {   # label ms [reference-ms [second-reference-ms]]
  if [ "${1#TMSTrace}" != "$1" ]; then
    row_inner "$@"
    return
  fi
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

# TMSTrace's rows: the whole process (with Qt's start-up), and from Start to
# the summary (what the user of the running window waits for), each beside
# traceroute's whole process.
row_inner() {   # label ms reference-ms [second-reference-ms]
  awk -v l="$1" -v a="$2" -v i="$inner_ms" -v b="$3" -v c="${4:-0}" 'BEGIN {
    printf "  %-40s %7d ms   %6.2f x traceroute", l, a, (b > 0 ? a / b : 0)
    if (c > 0) printf " (%.2f x second)", a / c
    printf "\n  %-40s %7d ms   %6.2f x traceroute", "  from Start to the summary", i, (b > 0 ? i / b : 0)
    if (c > 0) printf " (%.2f x second)", i / c
    printf "\n" }'
}

echo "whole process, timed inside the client host; median of $runs runs each"
echo
echo "three hops to host.idlix.test, every hop answers:"
bash "$net" exec "$prefix" client "$tracer" host.idlix.test | sed 's/^/    /'
target_seen="10.200.3.10\|host.idlix.test"
runs_of b traceroute -I -q 1 host.idlix.test
runs_of a "$tracer" host.idlix.test
runs_of c tracepath host.idlix.test
row "TMSTrace (async)" "$a" "$b"
row "traceroute -I -q 1" "$b"
row "tracepath" "$c"

echo
echo "four hops to beyond.idlix.test, the third router never answers:"
bash "$net" exec "$prefix" client "$tracer" beyond.idlix.test async 2000 | sed 's/^/    /'
target_seen="10.200.4.10\|beyond.idlix.test"
runs_of b traceroute -I -q 1 beyond.idlix.test
runs_of a "$tracer" beyond.idlix.test async
row "TMSTrace (async), time-out 15 s" "$a" "$b"
runs_of a "$tracer" beyond.idlix.test blocking
row "TMSTrace (blocking), time-out 15 s" "$a" "$b"
row "traceroute -I -q 1 (-w 5,3,10)" "$b"
runs_of b traceroute -I -q 1 -w 2 beyond.idlix.test
runs_of b2 traceroute -I -q 1 -w 2,3,10 beyond.idlix.test
runs_of a "$tracer" beyond.idlix.test async 2000
row "TMSTrace (async), time-out 2 s" "$a" "$b" "$b2"
row "traceroute -I -q 1 -w 2" "$b"
row "traceroute -I -q 1 -w 2,3,10" "$b2"

echo
echo "over IPv6: three hops to host.v6.idlix.test, every hop answers:"
bash "$net" exec "$prefix" client "$tracer" host.v6.idlix.test | sed 's/^/    /'
target_seen="fd00:200:3::10\|host.v6.idlix.test"
runs_of b traceroute -6 -I -q 1 host.v6.idlix.test
runs_of a "$tracer" host.v6.idlix.test
row "TMSTrace (async)" "$a" "$b"
row "traceroute -6 -I -q 1" "$b"

echo
echo "over IPv6: four hops to beyond.v6.idlix.test, the third router never answers:"
bash "$net" exec "$prefix" client "$tracer" beyond.v6.idlix.test async 2000 | sed 's/^/    /'
target_seen="fd00:200:4::10\|beyond.v6.idlix.test"
runs_of b traceroute -6 -I -q 1 beyond.v6.idlix.test
runs_of a "$tracer" beyond.v6.idlix.test async
row "TMSTrace (async), time-out 15 s" "$a" "$b"
row "traceroute -6 -I -q 1 (-w 5,3,10)" "$b"
runs_of b traceroute -6 -I -q 1 -w 2 beyond.v6.idlix.test
runs_of b2 traceroute -6 -I -q 1 -w 2,3,10 beyond.v6.idlix.test
runs_of a "$tracer" beyond.v6.idlix.test async 2000
row "TMSTrace (async), time-out 2 s" "$a" "$b" "$b2"
row "traceroute -6 -I -q 1 -w 2" "$b"
row "traceroute -6 -I -q 1 -w 2,3,10" "$b2"
