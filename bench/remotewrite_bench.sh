#!/usr/bin/env bash
# A fleet pushing to one Prometheus: NODES services (default 50), each in a
# network namespace of its own joined to a hub namespace by a veth pair on
# the hub's bridge, each probing the hub once a minute and pushing its
# figures by remote write to the Prometheus that runs in the hub (with an
# out-of-order window). Halfway through, one node's link is cut for
# CUT_MINUTES (nftables drops everything in its namespace), then restored.
# At the end: CPU and memory per node (mean and worst) and at the receiver
# over the run, and for the cut node the time from the link's return until
# every minute of the cut has its samples in Prometheus, with the raw samples
# of the cut and their times.
#
#   bench/remotewrite_bench.sh [BUILD_DIR] [MINUTES] [NODES] [CUT_MINUTES]
#   (default 30 minutes, 50 nodes, a 10-minute cut; root only)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
minutes=${2:-30}
nodes=${3:-50}
cut=${4:-10}
[ "$(id -u)" -eq 0 ] || { echo "remotewrite_bench: needs root (network namespaces)" >&2; exit 1; }
command -v prometheus >/dev/null || { echo "remotewrite_bench: prometheus is not installed" >&2; exit 1; }
service=${IDLIX_HEADLESS:-$build/idlix-headless}
[ -n "${IDLIX_HEADLESS:-}" ] || cmake --build "$build" --target idlix-headless -j2 >/dev/null

pre="rwb$$-"
work=$(mktemp -d /tmp/remotewrite_bench.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  sleep 1
  for i in $(seq 1 "$nodes"); do ip netns del "${pre}n$i" 2>/dev/null || true; done
  ip netns del "${pre}hub" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

hub="${pre}hub"
ip netns add "$hub"
ip -n "$hub" link set lo up
ip -n "$hub" link add br0 type bridge
ip -n "$hub" addr add 10.77.0.1/16 dev br0
ip -n "$hub" link set br0 up
for i in $(seq 1 "$nodes"); do
  ns="${pre}n$i"
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  ip link add "rwb$$h$i" netns "$hub" type veth peer name eth0 netns "$ns"
  ip -n "$hub" link set "rwb$$h$i" master br0 up
  ip -n "$ns" addr add "10.77.$((i / 200)).$((i % 200 + 10))/16" dev eth0
  ip -n "$ns" link set eth0 up
done

cat >"$work/prometheus.yml" <<'YML'
global:
  scrape_interval: 1m
storage:
  tsdb:
    out_of_order_time_window: 72h
YML
ip netns exec "$hub" prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
  --web.listen-address=10.77.0.1:9090 --web.enable-remote-write-receiver --log.level=warn >"$work/prometheus.log" 2>&1 &
prom=$!; pids+=("$prom")
query() {   # query PROMQL -> JSON
  ip netns exec "$hub" curl -sG --data-urlencode "query=$1" http://10.77.0.1:9090/api/v1/query
}
for _ in $(seq 1 100); do query 'vector(1)' >/dev/null 2>&1 && break; sleep 0.2; done

declare -A svc
for i in $(seq 1 "$nodes"); do
  d="$work/n$i"; mkdir "$d"
  printf '[Anti-Idle Options]\r\nMethod=1\r\nFrequecy=1\r\nHost=10.77.0.1\r\n[Service]\r\nNode=node%d\r\nLabels=bench=fleet\r\nRemoteWrite=http://10.77.0.1:9090/api/v1/write\r\n' "$i" >"$d/idlix2.ini"
  ip netns exec "${pre}n$i" "$service" --headless --config "$d" 2>"$d/stderr" &
  svc[$i]=$!; pids+=("$!")
done
echo "remotewrite_bench: $nodes nodes, $minutes minutes, node1's link cut for $cut minutes from minute $(( (minutes - cut) / 2 ))"

sleep $(( (minutes - cut) / 2 * 60 ))
cut_from=$(date +%s)
ip netns exec "${pre}n1" nft -f - <<'NFT'
table inet cut {
  chain o { type filter hook output priority 0; policy drop; }
  chain i { type filter hook input priority 0; policy drop; }
}
NFT
sleep $(( cut * 60 ))
ip netns exec "${pre}n1" nft delete table inet cut
back=$(date +%s)
window=$(( back - cut_from ))
# Every minute of the cut has its samples: one each interval at least.
want=$(( window / 60 ))
filled=""
while [ $(( $(date +%s) - back )) -lt 300 ]; do
  n=$(query "count_over_time(idlix_build_info{instance=\"node1\"}[${window}s] @ $back)" |
      python3 -c 'import json,sys; r=json.load(sys.stdin)["data"]["result"]; print(r[0]["value"][1] if r else 0)')
  if [ "$n" -ge "$want" ]; then filled=$(( $(date +%s) - back )); break; fi
  sleep 1
done
rest=$(( minutes * 60 - (back - cut_from) - (minutes - cut) / 2 * 60 ))
[ "$rest" -gt 0 ] && sleep "$rest"

hz=$(getconf CLK_TCK)
elapsed=$(( minutes * 60 ))
cpu_pct() { awk -v hz="$hz" -v t="$elapsed" '{printf "%.4f", ($14 + $15) / hz / t * 100}' "/proc/$1/stat"; }
hwm() { awk '/^VmHWM:/ {printf "%.1f", $2 / 1024}' "/proc/$1/status"; }
pss() { awk '/^Pss:/ {printf "%.1f", $2 / 1024}' "/proc/$1/smaps_rollup"; }
{
  for i in $(seq 1 "$nodes"); do echo "$(cpu_pct "${svc[$i]}") $(hwm "${svc[$i]}") $(pss "${svc[$i]}")"; done
} >"$work/nodes.txt"
echo
awk '{c += $1; h += $2; p += $3; if ($1 > mc) mc = $1; if ($2 > mh) mh = $2; if ($3 > mp) mp = $3}
     END {printf "  per node (%d): CPU %.4f %% of a core mean, %.4f %% worst; peak RSS %.1f MiB mean, %.1f worst; Pss %.1f MiB mean, %.1f worst\n", NR, c/NR, mc, h/NR, mh, p/NR, mp}' "$work/nodes.txt"
echo "  receiver (prometheus): CPU $(cpu_pct "$prom") % of a core; peak RSS $(hwm "$prom") MiB"
echo "  node1 cut ${window} s: gap complete ${filled:-NOT within 300} s after the link came back ($want+ samples of idlix_build_info wanted)"
echo "  the cut's samples: idlix_build_info{instance=\"node1\"}[${window}s] @ $back"
query "idlix_build_info{instance=\"node1\"}[${window}s] @ $back" |
  python3 -c 'import json,sys,datetime
r=json.load(sys.stdin)["data"]["result"]
for t, v in (r[0]["values"] if r else []): print("   ", datetime.datetime.utcfromtimestamp(float(t)).strftime("%H:%M:%S.%f")[:-3], v)'
echo "  pending and failures at the end (node1): $(query 'idlix_remote_write_pending_samples{instance="node1"}' | grep -o '"value":\[[^]]*\]') $(query 'idlix_remote_write_failures_total{instance="node1"}' | grep -o '"value":\[[^]]*\]')"
