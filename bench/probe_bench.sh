#!/usr/bin/env bash
# The HTTP probe's stopwatch against a slow reply: a local server sends 64 KB
# over 3 seconds (bench/slow_reply.py); for each run the probe's HttpElapsed
# (the anti-idle probe sent from the program's window, bench/probe_once.cpp),
# curl's time_total for the same reply, and the CPU time of the program
# during the probe as a share of one core. Runs idle, then with both cores
# busy in plain shell loops.
#
# "page": the probe of an 8 MB page from nginx on a test host of the test
# network, sent from the program's window shown on a private Xvfb display
# (so every repaint of the status line is a real one), beside curl fetching
# the same page in the same run. Root only (it builds the test network).
#
#   bench/probe_bench.sh [BUILD_DIR] [RUNS] [slow|page|all]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
runs=${2:-3}
what=${3:-slow}

# The reference tools come when missing (root), as the other benchmarks' do.
missing=()
command -v curl >/dev/null || missing+=(curl)
if [ "${#missing[@]}" -gt 0 ] && [ "$(id -u)" -eq 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
for tool in curl python3; do
  command -v "$tool" >/dev/null || { echo "probe_bench: $tool is missing (apt-get install curl python3)" >&2; exit 1; }
done
cmake -S "$src" -B "$build" >/dev/null
cmake --build "$build" --target probe_once -j2 >/dev/null
probe=${PROBE_ONCE_BIN:-$(find "$build" -name probe_once -type f -perm -u+x | head -1)}   # PROBE_ONCE_BIN: another build to compare

work=$(mktemp -d /tmp/probe_bench.XXXXXX)
server_pid=
xpid=
netprefix=
busy=()
stop_busy() { for p in "${busy[@]}"; do kill "$p" 2>/dev/null || true; done; busy=(); }
cleanup() {
  stop_busy
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  [ -n "$netprefix" ] && bash "$src/tests/support/testnet.sh" down "$netprefix" >/dev/null 2>&1
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

median() { sort -n | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.1f", m }'; }

# The 8 MB page in the window under Xvfb beside curl, both in the client host.
page_bench() {
  [ "$(id -u)" -eq 0 ] || { echo "probe_bench: page needs root (network namespaces)" >&2; exit 1; }
  local net="$src/tests/support/testnet.sh" size=$((8 * 1024 * 1024))
  netprefix="idx$$-"
  bench_name=probe_bench
  . "$here/xdisplay.sh"
  bash "$net" up "$netprefix" >/dev/null
  mkdir -p "$work/www"
  chmod 755 "$work" "$work/www"
  head -c "$size" /dev/urandom >"$work/www/index.html"
  chmod 644 "$work/www/index.html"
  bash "$net" nginx "$netprefix" host "$work/www" 80 >/dev/null
  local url="http://10.200.3.10/" i
  # Rounds of: one window making two probes (the second is timed: the first
  # warms fonts and caches up), curl throwing the page away, and curl writing
  # it to a file as the probe writes temp.dat (created anew each time, in the
  # same file system). Interleaved, so a busy moment of the machine touches
  # all three alike.
  : >"$work/page.out"; : >"$work/curl-null.out"; : >"$work/curl-file.out"
  for ((i = 1; i <= runs; i++)); do
    DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$work" bash "$net" exec "$netprefix" client \
      "$probe" 10.200.3.10 2 >"$work/one.out" 2>"$work/page.err" || {
      echo "probe_bench: the probe failed:" >&2; cat "$work/page.err" >&2; exit 1; }
    tail -1 "$work/one.out" >>"$work/page.out"
    bash "$net" exec "$netprefix" client curl -s --http1.0 -H 'Pragma: no-cache' -o /dev/null \
      -w '%{size_download} %{time_total}\n' "$url" >>"$work/curl-null.out"
    bash "$net" exec "$netprefix" client curl -s --http1.0 -H 'Pragma: no-cache' -o "$work/curl.dat" \
      -w '%{size_download} %{time_total}\n' "$url" >>"$work/curl-file.out"
  done
  awk -v s="$size" '$1 != s { print "probe_bench: curl got " $1 " bytes" > "/dev/stderr"; exit 1 }' \
    "$work/curl-null.out" "$work/curl-file.out"
  local a b c
  a=$(awk '{ print $2 }' "$work/page.out" | median)
  b=$(awk '{ printf "%.3f\n", $2 * 1000 }' "$work/curl-null.out" | median)
  c=$(awk '{ printf "%.3f\n", $2 * 1000 }' "$work/curl-file.out" | median)
  echo "8 MB page from nginx on the test host, the window on Xvfb, median of $runs:"
  awk -v a="$a" -v b="$b" -v c="$c" -v e="$(awk '{ print $1 }' "$work/page.out" | median)" \
      -v cpu="$(awk '{ print $3 }' "$work/page.out" | median)" 'BEGIN {
    printf "  probe in the window (writes temp.dat): %8.1f ms (HttpElapsed %.0f ms, CPU %.1f ms)\n", a, e, cpu
    printf "  curl -o FILE:                          %8.1f ms   probe %.2f x\n", c, a / c
    printf "  curl -o /dev/null:                     %8.1f ms   probe %.2f x\n", b, a / b }'
}
if [ "$what" = page ] || [ "$what" = all ]; then
  page_bench
fi
[ "$what" = page ] && exit 0

python3 "$here/slow_reply.py" 65536 3 64 >"$work/port" &
server_pid=$!
for _ in $(seq 1 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")

# "probe ms" is the whole probe call on the monotonic clock (HttpElapsed
# lies inside it); CPU is a share of one core over the probe: the whole
# program, its GUI thread, and the stopwatch's thread.
printf "%-6s %4s %12s %9s %10s %8s %7s %7s %7s %9s\n" load run "HttpElapsed" "probe ms" "curl ms" "diff %" "CPU %" "GUI %" "timer %" "wakes/s"
for load in idle busy; do
  if [ "$load" = busy ]; then
    for _ in 1 2; do sh -c 'while :; do :; done' & busy+=($!); done
    sleep 1
  fi
  for ((i = 1; i <= runs; i++)); do
    c=$(curl -s --http1.0 -H 'Pragma: no-cache' -o /dev/null -w '%{time_total}' "http://127.0.0.1:$port/" \
        | awk '{ printf "%.1f", $1 * 1000 }')
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} XDG_RUNTIME_DIR="$work" \
      "$probe" "127.0.0.1:$port" 1 >"$work/probe.out" 2>"$work/probe.err" || {
      echo "probe_bench: the probe failed:" >&2; cat "$work/probe.err" >&2; exit 1; }
    read -r ms wall cpu gui timer wakes <"$work/probe.out"
    awk -v l="$load" -v i="$i" -v ms="$ms" -v c="$c" -v wall="$wall" -v cpu="$cpu" -v gui="$gui" \
        -v timer="$timer" -v w="$wakes" 'BEGIN {
      printf "%-6s %4d %12d %9.1f %10.1f %+8.2f %7.2f %7.2f %7.2f %9.1f\n", l, i, ms, wall, c, (ms - c) / c * 100,
        cpu / wall * 100, gui / wall * 100, timer / wall * 100, w / wall * 1000 }'
  done
  stop_busy
done
