#!/usr/bin/env bash
# Start-up time of Idlix beside a bare Qt Widgets window (bench/label_floor:
# one label, nothing else) and a small X program (xmessage), all run the same
# way in the same go under a private Xvfb display; with BEFORE, a second build
# of Idlix (for example one of main) measured in the same go as well.
#
#   bench/startup_bench.sh [BUILD_DIR] [RUNS] [BEFORE]
#
# Each run: start the program with a scratch IDLIX_DIR and XDG_RUNTIME_DIR,
# time until its window shows what it draws (its first paint, seen through
# X DAMAGE by bench/mapwait --painted: a mapped window is not yet a drawn one),
# wait 3 s idle, read VmRSS from /proc/PID/status, end it with SIGTERM. A
# private session bus runs meanwhile, as on a desktop.
# Prints median/min/max and the medians as a multiple of the bare window's.
#
# STARTUP_SCALE=150 or 200 measures at that window size ([Window] Scale in
# the scratch idlix2.ini; the bare window gets the same QT_SCALE_FACTOR).
# As root, the display server, the bus and each program run under the
# real-time scheduler (SCHED_FIFO), so that other work on a shared machine
# does not decide the figures (the kernel keeps 5 % of each second for the
# rest); STARTUP_RT=0 runs them as ordinary processes. STARTUP_IDLE sets the
# seconds before VmRSS is read.
# Where Idlix's own time goes: IDLIX_STARTUP_TRACE=$(date +%s%N) build/idlix
# prints its start-up milestones.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
runs=${2:-10}
before=${3:-}
scale=${STARTUP_SCALE:-100}
idle=${STARTUP_IDLE:-3}   # seconds before VmRSS is read

case "$scale" in 100|150|200) ;; *) echo "startup_bench: STARTUP_SCALE is 100, 150 or 200" >&2; exit 2 ;; esac
for tool in Xvfb xmessage cc; do
  command -v "$tool" >/dev/null || { echo "startup_bench: $tool is missing (apt-get install xvfb x11-utils)" >&2; exit 1; }
done
cmake -S "$src" -B "$build" >/dev/null
cmake --build "$build" --target idlix label_floor -j2 >/dev/null
idlix="$build/idlix"
floor=$(find "$build" -name label_floor -type f -perm -u+x | head -1)
[ -x "$idlix" ] || { echo "startup_bench: $idlix was not built" >&2; exit 1; }
[ -n "$before" ] && { [ -x "$before" ] || { echo "startup_bench: $before is not a program" >&2; exit 1; }; }

work=$(mktemp -d /tmp/idlix-bench.XXXXXX)
xpid=""
buspid=""
cleanup() {
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null || true
  [ -n "$buspid" ] && kill "$buspid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

bench_name=startup_bench
. "$here/xdisplay.sh"
# A session bus, as a desktop has: every Qt window asks it for the
# accessibility bus. Without one, each start would launch a bus of its own
# through the display (dbus-launch), which no desktop start pays.
if command -v dbus-daemon >/dev/null; then
  dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$work/bus.address" 4>"$work/bus.pid"
  buspid=$(cat "$work/bus.pid")
  export DBUS_SESSION_BUS_ADDRESS
  DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus.address")
else
  echo "startup_bench: no dbus-daemon: every start launches a bus of its own (apt-get install dbus-daemon)" >&2
fi
factor=$(awk -v s="$scale" 'BEGIN { printf "%g", s / 100 }')
rt=()
if [ "${STARTUP_RT:-1}" != 0 ] && [ "$(id -u)" -eq 0 ] && command -v chrt >/dev/null; then
  rt=(chrt -f 20)
  chrt -f -p 20 "$xpid" >/dev/null
  [ -n "$buspid" ] && chrt -f -p 20 "$buspid" >/dev/null
fi

# One run: NAME TITLE CMD...; appends "ms kB" to $work/NAME.
one_run() {
  local name=$1 title=$2; shift 2
  local scratch; scratch=$(mktemp -d "$work/run.XXXXXX")
  mkdir -m 700 "$scratch/run"
  printf '[Window]\r\nScale=%s\r\n' "$scale" >"$scratch/idlix2.ini"
  local out pid ms rss
  out=$(IDLIX_DIR="$scratch" XDG_RUNTIME_DIR="$scratch/run" QT_SCALE_FACTOR="$factor" \
        "${rt[@]}" "$work/mapwait" --painted "$title" 15000 "$@") || {
    echo "startup_bench: $name: window not drawn" >&2
    pid=${out#* }; [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
    return 1
  }
  ms=${out% *}; pid=${out#* }
  sleep "$idle"
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  kill -TERM "$pid"
  # Ended (gone, or a zombie waiting for its new parent to reap it) within 5 s?
  local ended=0
  for _ in $(seq 1 100); do
    if ! kill -0 "$pid" 2>/dev/null || grep -q '^State:.*Z' "/proc/$pid/status" 2>/dev/null; then
      ended=1; break
    fi
    sleep 0.05
  done
  if [ "$ended" -eq 0 ]; then
    kill -9 "$pid" 2>/dev/null || true
    echo "$name" >> "$work/forced"
  fi
  echo "$ms $rss" >> "$work/$name"
}

# Runs alternate, so a busy moment of the machine touches all alike.
names=(idlix)
[ -n "$before" ] && names=(before idlix)
names+=(bare-qt xmessage)
for i in $(seq 1 "$runs"); do
  [ -n "$before" ] && one_run before "Idlix v2.0" "$before"
  one_run idlix "Idlix v2.0" "$idlix"
  one_run bare-qt "label-floor" "$floor"
  one_run xmessage "startup-bench" xmessage -title startup-bench "Idlix start-up reference"
done

# median, min, max of column COL in FILE
stats() {
  sort -n -k"$2","$2" "$1" | awk -v c="$2" '{v[NR]=$c} END {
    m = (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2;
    printf "%9.1f %9.1f %9.1f", m, v[1], v[NR] }'
}
median() { stats "$1" 1 | awk '{ print $1 }'; }

echo "Start-up to the first paint (ms) and resident memory after ${idle} s idle (kB),"
echo "$runs runs each, window size $scale %$([ ${#rt[@]} -gt 0 ] && echo ", real-time scheduling")"
[ -n "$before" ] && echo "before: $before"
printf "%-9s %29s %9s   %29s\n" "" "first paint (ms)" "x bare" "VmRSS (kB)"
printf "%-9s %9s %9s %9s %9s   %9s %9s %9s\n" program median min max "" median min max
floor_ms=$(median "$work/bare-qt")
for name in "${names[@]}"; do
  printf "%-9s %s %9.2f   %s\n" "$name" "$(stats "$work/$name" 1)" \
    "$(awk -v a="$(median "$work/$name")" -v b="$floor_ms" 'BEGIN { print a / b }')" \
    "$(stats "$work/$name" 2)"
done
if [ -s "$work/forced" ]; then
  echo "needed SIGKILL after SIGTERM: $(sort "$work/forced" | uniq -c | tr '\n' ' ')"
else
  echo "every run ended on SIGTERM"
fi
