#!/usr/bin/env bash
# Start-up time and idle memory of Idlix beside a small X program (xmessage),
# both run the same way in the same go under a private Xvfb display.
#
#   bench/startup_bench.sh [BUILD_DIR] [RUNS]
#
# Each run: start the program with a scratch IDLIX_DIR and XDG_RUNTIME_DIR,
# time until its window is mapped and viewable, wait 3 s idle, read VmRSS
# from /proc/PID/status, end it with SIGTERM. Prints median/min/max.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
runs=${2:-10}
idle=3

for tool in Xvfb xmessage cc; do
  command -v "$tool" >/dev/null || { echo "startup_bench: $tool is missing (apt-get install xvfb x11-utils)" >&2; exit 1; }
done
cmake -S "$src" -B "$build" >/dev/null
cmake --build "$build" --target idlix -j2 >/dev/null
idlix="$build/idlix"
[ -x "$idlix" ] || { echo "startup_bench: $idlix was not built" >&2; exit 1; }

work=$(mktemp -d /tmp/idlix-bench.XXXXXX)
xpid=""
cleanup() {
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

bench_name=startup_bench
. "$here/xdisplay.sh"

# One run: NAME TITLE CMD...; appends "ms kB" to $work/NAME.
one_run() {
  local name=$1 title=$2; shift 2
  local scratch; scratch=$(mktemp -d "$work/run.XXXXXX")
  mkdir -m 700 "$scratch/run"
  local out pid ms rss
  out=$(IDLIX_DIR="$scratch" XDG_RUNTIME_DIR="$scratch/run" "$work/mapwait" "$title" 15000 "$@") || {
    echo "startup_bench: $name: window not shown" >&2
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

# Runs alternate, so a busy moment of the machine touches both alike.
for i in $(seq 1 "$runs"); do
  one_run idlix "Idlix v2.0" "$idlix"
  one_run xmessage "startup-bench" xmessage -title startup-bench "Idlix start-up reference"
done

# median, min, max of column COL in FILE
stats() {
  sort -n -k"$2","$2" "$1" | awk -v c="$2" '{v[NR]=$c} END {
    m = (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2;
    printf "%9.1f %9.1f %9.1f", m, v[1], v[NR] }'
}

echo "Start-up to mapped window (ms) and resident memory after ${idle} s idle (kB), $runs runs each"
printf "%-10s %29s   %29s\n" "" "window shown (ms)" "VmRSS (kB)"
printf "%-10s %9s %9s %9s   %9s %9s %9s\n" program median min max median min max
for name in idlix xmessage; do
  printf "%-10s %s   %s\n" "$name" "$(stats "$work/$name" 1)" "$(stats "$work/$name" 2)"
done
if [ -s "$work/forced" ]; then
  echo "needed SIGKILL after SIGTERM: $(sort "$work/forced" | uniq -c | tr '\n' ' ')"
else
  echo "every run ended on SIGTERM"
fi
