#!/usr/bin/env bash
# What the unattended service costs beside the probing exporter people run
# for the same job: three programs side by side in one run, each probing
# 127.0.0.1 once a minute for MINUTES (default 10):
#   headless   idlix --headless with its metrics endpoint on
#   prober     prometheus-smokeping-prober (Debian's package, installed when
#              missing), its own metrics endpoint on
#   desktop    the desktop program with an anti-idle session (under a private
#              Xvfb display), metrics off: what the window adds
# Both endpoints are scraped every 15 s, as a Prometheus would. At the end:
# CPU seconds (utime + stime of the whole process life, start-up included),
# peak resident memory (VmHWM), proportional memory at the end (Pss: shared
# libraries split among their users), and the probes each one sent.
#
#   bench/service_bench.sh [BUILD_DIR] [MINUTES]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
minutes=${2:-10}

missing=()
command -v prometheus-smokeping-prober >/dev/null || missing+=(prometheus-smokeping-prober)
command -v xdotool >/dev/null || missing+=(xdotool)
if [ "${#missing[@]}" -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "service_bench: missing ${missing[*]} (install as root)" >&2; exit 1; }
  # No service starts while they install (the prober's package enables one).
  policy=/usr/sbin/policy-rc.d
  [ -e "$policy" ] || { printf '#!/bin/sh\nexit 101\n' >"$policy"; chmod 755 "$policy"; trap 'rm -f "$policy"' EXIT; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  rm -f "$policy"; trap - EXIT
  if [ -d /run/systemd/system ]; then
    systemctl disable --now prometheus-smokeping-prober.service >/dev/null 2>&1 || true
  fi
fi
cmake -S "$src" -B "$build" >/dev/null
cmake --build "$build" --target idlix -j2 >/dev/null
idlix=${IDLIX_BIN:-$build/idlix}

work=$(mktemp -d /tmp/service_bench.XXXXXX)
xpid=""
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
bench_name=service_bench
. "$here/xdisplay.sh"

# A free TCP port on loopback.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
settings='[Anti-Idle Options]\r\nMethod=1\r\nFrequecy=1\r\nHost=127.0.0.1\r\n'

# The service.
mkdir "$work/headless"
printf "$settings" >"$work/headless/idlix2.ini"
idlix_port=$(free_port)
"$idlix" --headless --config "$work/headless" --metrics "127.0.0.1:$idlix_port" 2>"$work/headless/stderr" &
headless=$!; pids+=("$headless")

# The prober: unprivileged echoes where ping_group_range lets root's group
# open them (as the service's first choice), raw sockets otherwise (its fallback).
read -r low high </proc/sys/net/ipv4/ping_group_range
privileged=()
[ "$low" -le 0 ] && [ "$high" -ge 0 ] || privileged=(--privileged)
prober_port=$(free_port)
# Only the target given here: the package's own settings add a second one
# that pings localhost every second. It starts listening once its pinger has
# started, a minute in.
printf 'targets: []\n' >"$work/prober.yml"
prometheus-smokeping-prober --config.file="$work/prober.yml" --web.listen-address="127.0.0.1:$prober_port" \
  --ping.interval=1m "${privileged[@]}" 127.0.0.1 >"$work/prober.log" 2>&1 &
prober=$!; pids+=("$prober")

# The desktop program with its session, started with its shortcut.
mkdir -m 700 "$work/desktop" "$work/desktop/run"
printf "$settings" >"$work/desktop/idlix2.ini"
out=$(IDLIX_DIR="$work/desktop" XDG_RUNTIME_DIR="$work/desktop/run" "$work/mapwait" "Idlix v2.0" 15000 "$idlix") || {
  echo "service_bench: the window of Idlix did not appear" >&2; exit 1; }
desktop=${out#* }; pids+=("$desktop")
win=$(xdotool search --pid "$desktop" --name '^Idlix v2\.0$' | head -1)
xdotool windowfocus --sync "$win" key ctrl+a

# One scrape into FILE; a refused one (the prober's first minute) keeps the last.
scrape() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1" && printf 'GET /metrics HTTP/1.0\r\nHost: bench\r\n\r\n' >&3 &&
    cat <&3 >"$2.new" && mv "$2.new" "$2") 2>/dev/null || true
}
echo "service_bench: $minutes minutes; metrics of idlix on $idlix_port, of the prober on $prober_port"
end=$((SECONDS + minutes * 60))
while [ "$SECONDS" -lt "$end" ]; do
  scrape "$idlix_port" "$work/idlix.metrics"
  scrape "$prober_port" "$work/prober.metrics"
  sleep 15
done

hz=$(getconf CLK_TCK)
# report NAME PID PROBES
report() {
  local cpu hwm pss
  cpu=$(awk -v hz="$hz" '{printf "%.2f", ($14 + $15) / hz}' "/proc/$2/stat")
  hwm=$(awk '/^VmHWM:/ {printf "%.1f", $2 / 1024}' "/proc/$2/status")
  pss=$(awk '/^Pss:/ {printf "%.1f", $2 / 1024}' "/proc/$2/smaps_rollup")
  printf "  %-36s %8s %10s %10s %7s\n" "$1" "$cpu" "$hwm" "$pss" "$3"
}
idlix_probes=$(awk '/^idlix_probes_total/ {n += $NF} END {print n + 0}' "$work/idlix.metrics")
prober_probes=$(awk '/^smokeping_requests_total/ {n += $NF} END {print n + 0}' "$work/prober.metrics")
echo
printf "  %-36s %8s %10s %10s %7s\n" "program (${minutes} min, 1 echo a minute)" "CPU s" "peak MiB" "Pss MiB" "probes"
report "idlix --headless, metrics on" "$headless" "$idlix_probes"
report "prometheus-smokeping-prober" "$prober" "$prober_probes"
# The desktop's probes are in its log once it has ended.
desk_row=$(report "idlix desktop session (Xvfb)" "$desktop" "@")
kill -TERM "$desktop"
for _ in $(seq 1 100); do [ -e "/proc/$desktop" ] || break; sleep 0.1; done
desk_probes=$(iconv -f cp1252 -t utf-8 "$work/desktop/AI_Log.txt" | grep -c "Sending 56 bytes" || true)
echo "${desk_row/@/$desk_probes}"
kill -TERM "$headless"; wait "$headless" 2>/dev/null || true
echo
echo "  idlix --headless ended with: $(tail -n 1 "$work/headless/stderr" | cut -c26-)"
