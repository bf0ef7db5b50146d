#!/usr/bin/env bash
# What Idlix costs when it does nothing, beside the floor for a program that
# updates one label once a second. Three cases, each run for SECONDS (default
# 60) under a private Xvfb display after a few seconds to settle:
#   idle     Idlix started, no session
#   session  Idlix with an anti-idle session: one echo a minute to 127.0.0.1
#   floor    bench/label_floor.cpp: a Qt Widgets label set once a second
# For each: CPU seconds per hour (utime + stime of the process) and, per
# thread, wake-ups per second (voluntary context switches: each is one block
# and one wake-up; involuntary ones are shown beside them).
#
#   bench/idle_bench.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
seconds=${2:-60}
settle=3

for tool in Xvfb xdotool cc; do
  command -v "$tool" >/dev/null || { echo "idle_bench: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done
cmake -S "$src" -B "$build" >/dev/null
cmake --build "$build" --target idlix label_floor -j2 >/dev/null
idlix=${IDLIX_BIN:-$build/idlix}   # IDLIX_BIN: another build to compare
floor=$(find "$build" -name label_floor -type f -perm -u+x | head -1)

work=$(mktemp -d /tmp/idle_bench.XXXXXX)
xpid=""
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
bench_name=idle_bench
. "$here/xdisplay.sh"

hz=$(getconf CLK_TCK)
# "tid name voluntary involuntary" for every thread of PID.
threads() {
  local t
  for t in /proc/"$1"/task/*; do
    awk -v tid="${t##*/}" -v name="$(tr ' ' '_' <"$t/comm")" \
      '/^voluntary_ctxt_switches/ {v=$2} /^nonvoluntary_ctxt_switches/ {n=$2}
       END {print tid, name, v, n}' "$t/status" 2>/dev/null || true
  done
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# measure NAME PID: one report over $seconds.
measure() {
  local name=$1 pid=$2
  sleep "$settle"
  threads "$pid" >"$work/t0"; local c0; c0=$(cpu_ticks "$pid")
  sleep "$seconds"
  threads "$pid" >"$work/t1"; local c1; c1=$(cpu_ticks "$pid")
  awk -v s="$seconds" -v hz="$hz" -v c="$((c1 - c0))" -v name="$name" '
    NR == FNR { v0[$1] = $3; n0[$1] = $4; next }
    { vol = ($3 - v0[$1]) / s; inv = ($4 - n0[$1]) / s; total += vol
      rows[++k] = sprintf("  %-18s %8.2f %8.2f", $2, vol, inv) }
    END {
      printf "%s: %.2f CPU s/hour, %.2f wake-ups/s in all\n", name, c / hz / s * 3600, total
      printf "  %-18s %8s %8s\n", "thread", "wake/s", "invol/s"
      for (i = 1; i <= k; i++) print rows[i]
    }' "$work/t0" "$work/t1"
}

# start_idlix DIR: starts Idlix on a scratch directory, prints its pid.
start_idlix() {
  mkdir -m 700 "$1/run"
  local out
  out=$(IDLIX_DIR="$1" XDG_RUNTIME_DIR="$1/run" "$work/mapwait" "Idlix v2.0" 15000 "$idlix") || {
    echo "idle_bench: the window of Idlix did not appear" >&2; exit 1; }
  echo "${out#* }"
}

# Idle: no session.
mkdir "$work/idle"
pid=$(start_idlix "$work/idle"); pids+=("$pid")
measure "idle" "$pid"
kill -TERM "$pid"; wait "$pid" 2>/dev/null || true

# A session of one echo a minute to 127.0.0.1, started with its shortcut.
mkdir "$work/session"
printf '[Anti-Idle Options]\r\nMethod=1\r\nFrequecy=1\r\nHost=127.0.0.1\r\n' >"$work/session/idlix2.ini"
pid=$(start_idlix "$work/session"); pids+=("$pid")
win=$(xdotool search --pid "$pid" --name '^Idlix v2\.0$' | head -1)
xdotool windowfocus --sync "$win" key ctrl+a
[ -n "${IDLE_BENCH_SHOT:-}" ] && { sleep 2; import -window root "$IDLE_BENCH_SHOT"; }
measure "session" "$pid"
kill -TERM "$pid"; wait "$pid" 2>/dev/null || true

# The floor.
out=$("$work/mapwait" "label-floor" 15000 "$floor")
pid=${out#* }; pids+=("$pid")
measure "floor" "$pid"
kill -TERM "$pid"
