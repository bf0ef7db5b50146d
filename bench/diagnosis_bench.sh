#!/usr/bin/env bash
# Why the line is down, timed: for each cause made for real on the test
# network (the client's cable pulled at the router's end, the router
# dropping everything, the second hop blackholing, the name server stopped,
# a captive portal on the router, one server of a cycle ignoring echoes), a session in the client whose next
# probe fails, and the time from that failure (the down edge) to the verdict
# stored on the outage (or, for one silent server of a cycle, said in the
# session's history), with the bytes the first diagnosis sent. Goals: every
# verdict within 5 s, under 2 KB a diagnosis.
#
#   bench/diagnosis_bench.sh [BUILD_DIR] [CAUSES]
#   e.g. bench/diagnosis_bench.sh build "gateway provider"
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
causes=${2:-link gateway provider dns portal target}
net="$src/tests/support/testnet.sh"
[ "$(id -u)" -eq 0 ] || { echo "diagnosis_bench: needs root (network namespaces)" >&2; exit 1; }
command -v nft >/dev/null || { echo "diagnosis_bench: needs nft (nftables)" >&2; exit 1; }
cmake --build "$build" --target diagnosis_once -j2 >/dev/null
once="$build/bench/diagnosis_once"

p=idx$$-
work=$(mktemp -d /tmp/diagnosis_bench.XXXXXX)
cleanup() { "$net" down "$p" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
"$net" up "$p" >/dev/null

# A host that drops every packet to, through and from it.
dark() {
  local ns=$p$1
  echo "ip netns exec $ns nft add table inet bench && for h in input forward output; do" \
       "ip netns exec $ns nft \"add chain inet bench \$h { type filter hook \$h priority 0 ; policy drop ; }\"; done"
}
light() { echo "ip netns exec $p$1 nft delete table inet bench"; }
dnsmasq_pid() { cat "/run/idlix-testnet/${p}dnsmasq.pid"; }
# The router hands the client's web requests to a portal (nginx on the
# host, port 8080, redirecting everything to its login page) and lets
# nothing else through.
captive() {
  local r1="ip netns exec ${p}r1 nft"
  echo "$r1 add table ip bench && $r1 \"add chain ip bench pre { type nat hook prerouting priority -100 ; }\" &&" \
       "$r1 add rule ip bench pre iifname eth0 tcp dport 80 dnat to 10.200.3.10:8080 &&" \
       "$r1 \"add chain ip bench through { type filter hook forward priority 0 ; }\" &&" \
       "$r1 add rule ip bench through iifname eth0 ip daddr 10.200.3.10 tcp dport 8080 accept &&" \
       "$r1 add rule ip bench through iifname eth0 drop"
}
"$net" nginx "$p" host redirect:http://portal.idlix.test/login 8080 4 >/dev/null

printf '%-10s %-10s %8s %8s  %s\n' cause verdict ms bytes evidence
for cause in $causes; do
  hosts=host.idlix.test
  case $cause in
    link) fault="ip netns exec ${p}r1 sh -c 'sysctl -qw net.ipv6.conf.eth0.keep_addr_on_down=1; ip link set eth0 down'"
          mend="ip netns exec ${p}r1 ip link set eth0 up" ;;
    gateway) fault=$(dark r1); mend=$(light r1) ;;
    provider) fault=$(dark r2); mend=$(light r2) ;;
    dns) fault="kill -STOP $(dnsmasq_pid)"; mend="kill -CONT $(dnsmasq_pid)" ;;
    portal) fault=$(captive); mend="ip netns exec ${p}r1 nft delete table ip bench" ;;
    target) fault=true; mend=true; hosts="host.idlix.test quiet.idlix.test" ;;
    *) echo "diagnosis_bench: no cause $cause" >&2; exit 2 ;;
  esac
  dir="$work/$cause"; mkdir -p "$dir"
  # shellcheck disable=SC2086
  out=$("$net" exec "$p" client "$once" "$dir" "$fault" "$mend" $hosts 2>&1) || true
  v=$(sed -n 's/^verdict //p' <<<"$out"); ms=$(sed -n 's/^ms //p' <<<"$out")
  b=$(sed -n 's/^bytes //p' <<<"$out"); e=$(sed -n 's/^evidence //p' <<<"$out")
  printf '%-10s %-10s %8s %8s  %s\n' "$cause" "${v:-none}" "${ms:--}" "${b:--}" "${e:-$out}"
done
