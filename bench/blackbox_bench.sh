#!/usr/bin/env bash
# Idlix's service beside prometheus-blackbox-exporter (Debian's package,
# installed when missing) in one run on the test network: TARGETS targets
# (default 100) of mixed kinds, each probed every 15 s for MINUTES (default 10):
#   echo    ICMP echo to one of the test host's addresses (10.200.3.100 on)
#   tcp     a TCP handshake with nginx on one of those addresses
#   https   a GET of https://host.idlix.test/?n=I, nginx with the test CA's certificate
#   http    a GET of http://10.200.3.10/?n=I
#   dns     a question to dnsmasq for one of its names (when this build has
#           dns:// probes; at most one per name it knows)
# The exporter is driven as its users run it: a real prometheus scrapes its
# /probe endpoint every 15 s, one job per module. Idlix is one idlix-headless
# with every target each 15 s ([Service] ProbeAll), its metrics scraped by the
# same prometheus. Everything runs in the test network's client host.
# At the end: CPU seconds (utime + stime of the whole life, start-up
# included) from /proc, peak resident memory (VmHWM) and proportional memory
# (Pss of smaps_rollup) of each, and probe_success per target side by side:
# the last value and the share of 1s over the run, the exporter's from the
# Prometheus HTTP API, Idlix's from the same API where its metrics carry
# probe_success, else from its connection history (idlix --export).
#
#   bench/blackbox_bench.sh [BUILD_DIR] [TARGETS] [MINUTES]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
targets=${2:-100}
minutes=${3:-10}
every=15

[ "$(id -u)" -eq 0 ] || { echo "blackbox_bench: needs root (network namespaces)" >&2; exit 1; }
[ "$targets" -ge 1 ] && [ "$targets" -le 500 ] || { echo "blackbox_bench: TARGETS must be 1..500" >&2; exit 1; }
missing=()
command -v prometheus-blackbox-exporter >/dev/null || missing+=(prometheus-blackbox-exporter)
command -v prometheus >/dev/null || missing+=(prometheus)
command -v curl >/dev/null || missing+=(curl)
if [ "${#missing[@]}" -gt 0 ]; then
  # No service starts while they install (the packages enable theirs).
  policy=/usr/sbin/policy-rc.d
  [ -e "$policy" ] || { printf '#!/bin/sh\nexit 101\n' >"$policy"; chmod 755 "$policy"; trap 'rm -f "$policy"' EXIT; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  rm -f "$policy"; trap - EXIT
  if [ -d /run/systemd/system ]; then
    systemctl disable --now prometheus-blackbox-exporter.service prometheus.service >/dev/null 2>&1 || true
  fi
fi
cmake -S "$src" -B "$build" >/dev/null
cmake --build "$build" --target idlix idlix-headless -j2 >/dev/null
headless=${IDLIX_HEADLESS_BIN:-$(find "$build" -name idlix-headless -type f -perm -u+x | head -1)}
idlix=${IDLIX_BIN:-$build/idlix}

net="$src/tests/support/testnet.sh"
prefix="idx$$-"
work=$(mktemp -d /tmp/blackbox_bench.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  bash "$net" down "$prefix" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
bash "$net" up "$prefix" >/dev/null
client=$(bash "$net" ns "$prefix" client)
hostns=$(bash "$net" ns "$prefix" host)
in_client() { ip netns exec "$client" "$@"; }

# Web servers on the test host: plain HTTP, and HTTPS with the test CA's certificate.
mkdir -p "$work/www" "$work/certs"
chmod 755 "$work" "$work/www"
printf 'hello\n' >"$work/www/index.html"
chmod 644 "$work/www/index.html"
bash "$net" certs "$work/certs" >/dev/null
bash "$net" nginx "$prefix" host "$work/www" 80 >/dev/null
bash "$net" nginx "$prefix" host "$work/www" 443 4 "$work/certs/valid.pem" "$work/certs/valid.key" >/dev/null
# One address per echo and tcp target, so that each is a target of its own.
dev=$(ip -n "$hostns" -o -4 addr show | awk '$4 == "10.200.3.10/24" { print $2 }')
for ((i = 0; i < targets && i < 150; i++)); do
  ip -n "$hostns" addr add "10.200.3.$((100 + i))/24" dev "$dev"
done

# The first port free on the client's loopback from $1.
free_port() {
  in_client python3 -c 'import socket, sys
p = int(sys.argv[1])
while True:
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", p)); print(p); break
    except OSError:
        p += 1' "$1"
}

# Whether this build sends dns:// probes: one run of the service on one entry.
dns_names=(host client r1 r2 quiet slow ns multi host.v6 client.v6 r1.v6 r2.v6 quiet.v6 slow.v6 ns.v6 dual)
mkdir "$work/try"
printf 'dns://10.200.3.53/host.idlix.test\r\n' >"$work/try/Servers.dat"
printf '[Anti-Idle Options]\r\nMethod=0\r\nFrequecy=1\r\nOptions=0\r\n[Service]\r\nProbeAll=1\r\nProbeAllInterval=60\r\n' \
  >"$work/try/idlix2.ini"
timeout -s TERM 3 ip netns exec "$client" "$headless" --config "$work/try" 2>"$work/try/log" || true
dns_ok=1
grep -q "not available in this build" "$work/try/log" && dns_ok=0

# The targets: "KIND IDLIX-ENTRY EXPORTER-MODULE EXPORTER-TARGET", one a line.
kinds=(echo tcp https http dns)
: >"$work/targets"
n_dns=0
for ((i = 0; i < targets; i++)); do
  kind=${kinds[i % 5]}
  if [ "$kind" = dns ] && { [ "$dns_ok" -eq 0 ] || [ "$n_dns" -ge "${#dns_names[@]}" ]; }; then
    kind=${kinds[(i / 5) % 4]}
  fi
  ip="10.200.3.$((100 + i % 150))"
  case $kind in
    echo) echo "echo echo://$ip icmp $ip" ;;
    tcp) echo "tcp tcp://$ip:80 tcp_connect $ip:80" ;;
    https) echo "https https://host.idlix.test/?n=$i https_2xx https://host.idlix.test/?n=$i" ;;
    http) echo "http http://10.200.3.10/?n=$i http_2xx http://10.200.3.10/?n=$i" ;;
    dns)
      name=${dns_names[n_dns]}.idlix.test
      type=A; [[ $name == *.v6.* ]] && type=AAAA
      echo "dns dns://10.200.3.53/$name?type=$type dns_$n_dns 10.200.3.53 $name $type"
      n_dns=$((n_dns + 1)) ;;
  esac
done >>"$work/targets"

# The exporter's modules: time-outs as Idlix's kinds have them.
{
  echo "modules:"
  echo "  icmp: {prober: icmp, timeout: 5s, icmp: {preferred_ip_protocol: ip4}}"
  echo "  tcp_connect: {prober: tcp, timeout: 5s, tcp: {preferred_ip_protocol: ip4}}"
  echo "  http_2xx: {prober: http, timeout: 10s, http: {preferred_ip_protocol: ip4, method: GET}}"
  echo "  https_2xx: {prober: http, timeout: 10s, http: {preferred_ip_protocol: ip4, method: GET," \
       "fail_if_not_ssl: true, tls_config: {ca_file: $work/certs/ca.pem}}}"
  awk '$1 == "dns" { printf "  %s: {prober: dns, timeout: 5s, dns: {preferred_ip_protocol: ip4, transport_protocol: udp, query_name: \"%s\", query_type: %s}}\n", $3, $5, $6 }' "$work/targets"
} >"$work/blackbox.yml"

bb_port=$(free_port 9115)
id_port=$(free_port 9417)
pr_port=$(free_port 9090)

# Prometheus: one job per module of the exporter, as its users write them, and Idlix.
{
  echo "global: {scrape_interval: ${every}s, scrape_timeout: 12s}"
  echo "scrape_configs:"
  for module in $(awk '{ print $3 }' "$work/targets" | sort -u); do
    echo "  - job_name: blackbox_$module"
    echo "    metrics_path: /probe"
    echo "    params: {module: [$module]}"
    echo "    static_configs:"
    echo "      - targets:"
    awk -v m="$module" '$3 == m { printf "        - \"%s\"\n", $4 }' "$work/targets"
    echo "    relabel_configs:"
    echo "      - {source_labels: [__address__], target_label: __param_target}"
    echo "      - {source_labels: [__param_target], target_label: instance}"
    echo "      - {target_label: __address__, replacement: \"127.0.0.1:$bb_port\"}"
  done
  echo "  - job_name: idlix"
  echo "    static_configs: [{targets: [\"127.0.0.1:$id_port\"]}]"
} >"$work/prometheus.yml"

# Idlix: the same targets in its list, every one each 15 s.
mkdir "$work/idlix"
awk '{ printf "%s\r\n", $2 }' "$work/targets" >"$work/idlix/Servers.dat"
printf '[Anti-Idle Options]\r\nMethod=0\r\nFrequecy=1\r\nOptions=0\r\n[Service]\r\nProbeAll=1\r\nProbeAllInterval=%s\r\n' \
  "$every" >"$work/idlix/idlix2.ini"

SSL_CERT_FILE="$work/certs/ca.pem" ip netns exec "$client" "$headless" --config "$work/idlix" \
  --metrics "127.0.0.1:$id_port" 2>"$work/idlix.log" &
idlix_pid=$!; pids+=("$idlix_pid")
ip netns exec "$client" prometheus-blackbox-exporter --config.file="$work/blackbox.yml" \
  --web.listen-address="127.0.0.1:$bb_port" --log.level=warn >"$work/blackbox.log" 2>&1 &
bb_pid=$!; pids+=("$bb_pid")
ip netns exec "$client" prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
  --web.listen-address="127.0.0.1:$pr_port" --log.level=warn >"$work/prometheus.log" 2>&1 &
pr_pid=$!; pids+=("$pr_pid")

echo "blackbox_bench: $targets targets ($(awk '{ print $1 }' "$work/targets" | sort | uniq -c | awk '{ printf "%s%s %s", s, $2, $1; s = ", " }')), every ${every} s, $minutes min"
sleep $((minutes * 60))

for p in "$idlix_pid" "$bb_pid"; do
  [ -e "/proc/$p" ] || { echo "blackbox_bench: a program ended early" >&2; tail -5 "$work/idlix.log" "$work/blackbox.log" >&2; exit 1; }
done
hz=$(getconf CLK_TCK)
# usage NAME PID
usage() {
  local cpu hwm pss
  cpu=$(awk -v hz="$hz" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$2/stat")
  hwm=$(awk '/^VmHWM:/ { printf "%.1f", $2 / 1024 }' "/proc/$2/status")
  pss=$(awk '/^Pss:/ { printf "%.1f", $2 / 1024 }' "/proc/$2/smaps_rollup")
  printf "  %-34s %8s %10s %10s\n" "$1" "$cpu" "$hwm" "$pss"
}
echo
printf "  %-34s %8s %10s %10s\n" "program ($minutes min)" "CPU s" "peak MiB" "Pss MiB"
usage "idlix-headless (ProbeAll)" "$idlix_pid"
usage "prometheus-blackbox-exporter" "$bb_pid"
usage "prometheus (drives both)" "$pr_pid"

# A query's series from the Prometheus API as "JOB TARGET VALUE", one a line:
# the exporter's target is its instance (the DNS modules share one server,
# so a target is known by its job too), Idlix's its target label.
query() {
  in_client curl -sG "http://127.0.0.1:$pr_port/api/v1/query" --data-urlencode "query=$1" |
    python3 -c 'import json, sys
for r in json.load(sys.stdin)["data"]["result"]:
    m = r["metric"]
    job = m.get("job", "")
    print(job, m.get("instance") if job.startswith("blackbox_") else m.get("target"), r["value"][1])'
}
span="${minutes}m"
query 'probe_success{job=~"blackbox_.*"}' | sort >"$work/bb.last"
query "avg_over_time(probe_success{job=~\"blackbox_.*\"}[$span])" | sort >"$work/bb.share"
query 'probe_success{job="idlix"}' | sort >"$work/id.last"
query "avg_over_time(probe_success{job=\"idlix\"}[$span])" | sort >"$work/id.share"
source="Prometheus API"
kill -TERM "$idlix_pid"; wait "$idlix_pid" 2>/dev/null || true
if [ ! -s "$work/id.last" ]; then
  # This build's metrics have no probe_success: the history has every probe.
  source="connection history (no probe_success in this build's metrics)"
  mkdir -m 700 "$work/run"
  IDLIX_DIR="$work/idlix" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen "$idlix" --export probes - |
    awk -F, 'NR > 1 { ok = ($5 == "ok"); n[$2]++; s[$2] += ok; last[$2] = ok }
             END { for (t in n) { print "idlix", t, last[t] >"'"$work/id.last.u"'"; printf "idlix %s %.4f\n", t, s[t] / n[t] >"'"$work/id.share.u"'" } }'
  sort "$work/id.last.u" >"$work/id.last"; sort "$work/id.share.u" >"$work/id.share"
fi
probes=$(grep -c . "$work/idlix/Servers.dat")
echo
echo "  probe_success per target (last value, share of 1s over the run); Idlix's from the $source"
printf "  %-5s %-52s %12s %12s\n" kind "target (Idlix's entry)" "blackbox" "idlix"
same=0
while read -r kind entry module bbtarget _; do
  bl=$(awk -v j="blackbox_$module" -v t="$bbtarget" '$1 == j && $2 == t { print $3 }' "$work/bb.last")
  bs=$(awk -v j="blackbox_$module" -v t="$bbtarget" '$1 == j && $2 == t { printf "%.2f", $3 }' "$work/bb.share")
  il=$(awk -v t="$entry" '$2 == t { print $3 }' "$work/id.last")
  is=$(awk -v t="$entry" '$2 == t { printf "%.2f", $3 }' "$work/id.share")
  [ -n "$bl" ] && [ "$bl" = "$il" ] && same=$((same + 1))
  printf "  %-5s %-52s %4s (%5s)  %4s (%5s)\n" "$kind" "$entry" "${bl:--}" "${bs:--}" "${il:--}" "${is:--}"
done <"$work/targets"
echo
echo "  the same last probe_success for $same of $probes targets"
echo "  idlix-headless ended with: $(tail -n 1 "$work/idlix.log" | cut -c26-)"
