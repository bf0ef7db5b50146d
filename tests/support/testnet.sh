#!/usr/bin/env bash
# The test network: network namespaces with veth links, two routers in a
# chain, target hosts and a name server, all under one prefix so that
# parallel test runs do not meet. Root only. See README.md for the plan.
#
#   testnet.sh up PREFIX             build the network (tears down a leftover one first)
#   testnet.sh down PREFIX           remove it, ending every process inside it
#   testnet.sh exec PREFIX ROLE CMD  run CMD on a host (ip netns exec: its resolv.conf applies)
#   testnet.sh nginx PREFIX ROLE ROOT [PORT]   serve directory ROOT over HTTP; prints the pid
#   testnet.sh fingerd PREFIX ROLE [PORT]      in.fingerd behind socat (port 79); prints the pid
#   testnet.sh silent PREFIX         add the route through a silent router (see below)
#   testnet.sh dnsdelay PREFIX BIN MS [ARGS]  start the delaying DNS forwarder BIN on the name
#                                    server's second address and point the client at it; prints the pid
#   testnet.sh dnsdirect PREFIX      point the client at the name server itself again
#   testnet.sh clean-stale           remove networks whose creating process is gone
#   testnet.sh ns PREFIX ROLE        print the namespace name of a role
#
# PREFIX is short ("idx" + the creating pid + "-" is the convention that
# clean-stale understands). ROLE: client r1 r2 host quiet slow dns, and after
# "silent" also mute beyond.
set -euo pipefail

ROLES=(client r1 r2 host quiet slow dns)
# Hosts that only some tests need, built on demand; "down" removes them too.
EXTRA_ROLES=(mute beyond)
STATE_DIR=/run/idlix-testnet

die() { echo "testnet: $*" >&2; exit 1; }
ns() { echo "${1}${2}"; }
in_ns() { local n=$1; shift; ip netns exec "$n" "$@"; }

need_root() {
  [ "$(id -u)" -eq 0 ] || die "needs root (network namespaces)"
  command -v ip >/dev/null || die "the ip command (iproute2) is missing"
}

# Joins two namespaces with a veth pair made inside the first one, so no
# interface name is ever taken in the machine's own namespace.
link() {
  local a=$1 ifa=$2 b=$3 ifb=$4
  ip -n "$a" link add "$ifa" type veth peer name "$ifb" netns "$b"
  ip -n "$a" link set "$ifa" up
  ip -n "$b" link set "$ifb" up
}

sysctls() {
  local n=$1
  # No ICMP rate limits: tests send errors to the same place in quick succession.
  in_ns "$n" sysctl -qw net.ipv4.icmp_ratelimit=0 net.ipv4.icmp_msgs_per_sec=100000
}

up() {
  local p=$1
  down "$p" 2>/dev/null || true
  mkdir -p "$STATE_DIR"
  for r in "${ROLES[@]}"; do
    ip netns add "$(ns "$p" "$r")"
    ip -n "$(ns "$p" "$r")" link set lo up
    sysctls "$(ns "$p" "$r")"
  done
  local C R1 R2
  C=$(ns "$p" client); R1=$(ns "$p" r1); R2=$(ns "$p" r2)

  # client 10.200.1.2 -- 10.200.1.1 r1 10.200.2.1 -- 10.200.2.2 r2 10.200.3.1 (bridge)
  link "$C" eth0 "$R1" eth0
  ip -n "$C" addr add 10.200.1.2/24 dev eth0
  ip -n "$C" route add default via 10.200.1.1
  ip -n "$R1" addr add 10.200.1.1/24 dev eth0

  link "$R1" eth1 "$R2" eth0
  ip -n "$R1" addr add 10.200.2.1/24 dev eth1
  ip -n "$R2" addr add 10.200.2.2/24 dev eth0
  # r1 knows only the hosts' LAN: anything else gets "network unreachable".
  ip -n "$R1" route add 10.200.3.0/24 via 10.200.2.2
  ip -n "$R2" route add 10.200.1.0/24 via 10.200.2.1
  in_ns "$R1" sysctl -qw net.ipv4.ip_forward=1
  in_ns "$R2" sysctl -qw net.ipv4.ip_forward=1

  ip -n "$R2" link add br0 type bridge
  ip -n "$R2" link set br0 up
  ip -n "$R2" addr add 10.200.3.1/24 dev br0
  local host addr
  for host in host:10 quiet:20 slow:30 dns:53; do
    addr=${host#*:}; host=${host%%:*}
    local H; H=$(ns "$p" "$host")
    link "$H" eth0 "$R2" "p$host"
    ip -n "$R2" link set "p$host" master br0
    ip -n "$H" addr add "10.200.3.$addr/24" dev eth0
    ip -n "$H" route add default via 10.200.3.1
  done
  # quiet never answers; slow answers only through the echo responder.
  in_ns "$(ns "$p" quiet)" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
  in_ns "$(ns "$p" slow)" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
  # The client may use datagram ICMP sockets; tests forbid it to force raw ones.
  in_ns "$C" sysctl -qw net.ipv4.ping_group_range="0 2147483647"

  # Name server with forward and reverse records of every test host. It logs
  # every question it gets, so tests can count the lookups that reached it.
  local hosts="$STATE_DIR/${p}hosts"
  cat >"$hosts" <<HOSTS
10.200.1.2 client.idlix.test
10.200.1.1 r1.idlix.test
10.200.2.2 r2.idlix.test
10.200.3.10 host.idlix.test
10.200.3.20 quiet.idlix.test
10.200.3.30 slow.idlix.test
10.200.3.53 ns.idlix.test
10.200.3.10 multi.idlix.test
10.200.3.20 multi.idlix.test
HOSTS
  in_ns "$(ns "$p" dns)" dnsmasq --conf-file=/dev/null --no-resolv --no-hosts \
    --addn-hosts="$hosts" --local=/#/ --listen-address=10.200.3.53 --bind-interfaces \
    --pid-file="$STATE_DIR/${p}dnsmasq.pid" --user=root --group=root --no-negcache \
    --log-queries --log-facility="$STATE_DIR/${p}dnsmasq.log"

  mkdir -p "/etc/netns/$C"
  resolv_conf "$p" 10.200.3.53
  printf '127.0.0.1 localhost\n' >"/etc/netns/$C/hosts"

  # dnsmasq writes its pid file once it listens.
  local i
  for i in $(seq 1 50); do
    [ -s "$STATE_DIR/${p}dnsmasq.pid" ] && break
    sleep 0.1
  done
}

down() {
  local p=$1 r n pid
  for r in "${ROLES[@]}" "${EXTRA_ROLES[@]}"; do
    n=$(ns "$p" "$r")
    ip netns list | awk '{print $1}' | grep -qx "$n" || continue
    # Every process in a test namespace was started by the tests.
    for pid in $(ip netns pids "$n" 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  done
  sleep 0.1
  for r in "${ROLES[@]}" "${EXTRA_ROLES[@]}"; do
    n=$(ns "$p" "$r")
    for pid in $(ip netns pids "$n" 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done
    ip netns del "$n" 2>/dev/null || true
    rm -rf "/etc/netns/$n"
  done
  rm -f "$STATE_DIR/${p}hosts" "$STATE_DIR/${p}dnsmasq.pid" "$STATE_DIR/${p}dnsmasq.log" \
    "$STATE_DIR/${p}"nginx* "$STATE_DIR/${p}dnsdelay.ready"
}

# A route whose third hop never answers, as routers that drop their ICMP do:
#   client - r1 - r2 - mute 10.200.3.40 (on r2's LAN) / 10.200.4.1 - beyond 10.200.4.10
# mute forwards, but everything it would send of its own (time exceeded,
# echo replies) goes to a blackhole: the output route lookup of a locally
# made packet comes from "iif lo", which forwarded packets never do.
# beyond.idlix.test names the far host; the routers before it keep answering.
silent() {
  local p=$1 r
  local C R1 R2 M B
  C=$(ns "$p" client); R1=$(ns "$p" r1); R2=$(ns "$p" r2); M=$(ns "$p" mute); B=$(ns "$p" beyond)
  ip netns list | awk '{print $1}' | grep -qx "$R2" || die "build the network first (up $p)"
  ip netns list | awk '{print $1}' | grep -qx "$M" && return 0
  for r in mute beyond; do
    ip netns add "$(ns "$p" "$r")"
    ip -n "$(ns "$p" "$r")" link set lo up
    sysctls "$(ns "$p" "$r")"
  done
  link "$M" eth0 "$R2" pmute
  ip -n "$R2" link set pmute master br0
  ip -n "$M" addr add 10.200.3.40/24 dev eth0
  ip -n "$M" route add default via 10.200.3.1
  link "$M" eth1 "$B" eth0
  ip -n "$M" addr add 10.200.4.1/24 dev eth1
  ip -n "$B" addr add 10.200.4.10/24 dev eth0
  ip -n "$B" route add default via 10.200.4.1
  in_ns "$M" sysctl -qw net.ipv4.ip_forward=1
  ip -n "$M" rule add iif lo lookup 77 pref 77
  ip -n "$M" route add blackhole default table 77
  ip -n "$R2" route add 10.200.4.0/24 via 10.200.3.40
  ip -n "$R1" route add 10.200.4.0/24 via 10.200.2.2
  echo "10.200.4.10 beyond.idlix.test" >>"$STATE_DIR/${p}hosts"
  kill -HUP "$(cat "$STATE_DIR/${p}dnsmasq.pid")"
}

resolv_conf() {
  local p=$1 server=$2
  # Written in place: the client's view of /etc/resolv.conf is a bind mount
  # of this very file, and the C library rereads it when it changes.
  printf 'nameserver %s\nsearch idlix.test\noptions timeout:2 attempts:2\n' "$server" \
    >"/etc/netns/$(ns "$p" client)/resolv.conf"
}

# The delaying forwarder (tests/support/dns_delay.cpp) on 10.200.3.54, the
# name server host's second address, passing questions to dnsmasq.
dnsdelay() {
  local p=$1 bin=$2 ms=$3; shift 3
  local D; D=$(ns "$p" dns)
  [ -x "$bin" ] || die "no forwarder at $bin"
  ip -n "$D" addr show dev eth0 | grep -q '10.200.3.54/' || ip -n "$D" addr add 10.200.3.54/24 dev eth0
  local ready="$STATE_DIR/${p}dnsdelay.ready"
  rm -f "$ready"
  in_ns "$D" "$bin" --listen 10.200.3.54 --upstream 10.200.3.53 --delay "$ms" --ready "$ready" "$@" \
    </dev/null >/dev/null 2>&1 &
  local pid=$! i
  for i in $(seq 1 50); do
    [ -e "$ready" ] && break
    sleep 0.1
  done
  [ -e "$ready" ] || die "the forwarder did not start"
  resolv_conf "$p" 10.200.3.54
  echo "$pid"
}

nginx_up() {
  local p=$1 role=$2 root=$3 port=${4:-80}
  command -v nginx >/dev/null || die "nginx is not installed"
  local conf="$STATE_DIR/${p}nginx-$role-$port.conf"
  mkdir -p "$STATE_DIR/${p}nginx-$role-$port.d"
  cat >"$conf" <<CONF
daemon off;
master_process off;
pid $STATE_DIR/${p}nginx-$role-$port.pid;
error_log stderr error;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $STATE_DIR/${p}nginx-$role-$port.d;
  proxy_temp_path $STATE_DIR/${p}nginx-$role-$port.d;
  fastcgi_temp_path $STATE_DIR/${p}nginx-$role-$port.d;
  uwsgi_temp_path $STATE_DIR/${p}nginx-$role-$port.d;
  scgi_temp_path $STATE_DIR/${p}nginx-$role-$port.d;
  server {
    listen $port;
    root $root;
  }
}
CONF
  in_ns "$(ns "$p" "$role")" nginx -c "$conf" -e stderr </dev/null >/dev/null 2>&1 &
  local pid=$!
  # Ready when the port accepts a connection.
  local i
  for i in $(seq 1 50); do
    in_ns "$(ns "$p" "$role")" bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null && break
    sleep 0.1
  done
  echo "$pid"
}

# Debian's in.fingerd, started per connection by socat as inetd would; it runs
# /usr/bin/finger for the answer. Ends with the namespace at "down".
fingerd_up() {
  local p=$1 role=$2 port=${3:-79}
  command -v socat >/dev/null || die "socat is not installed"
  [ -x /usr/sbin/in.fingerd ] || die "in.fingerd (package fingerd) is not installed"
  [ -x /usr/bin/finger ] || die "finger (package finger) is not installed"
  local n; n=$(ns "$p" "$role")
  in_ns "$n" socat "TCP-LISTEN:$port,fork,reuseaddr" EXEC:/usr/sbin/in.fingerd \
    </dev/null >/dev/null 2>&1 &
  local pid=$!
  # Ready when the port listens (asked of the kernel, so no query is spent).
  local i
  for i in $(seq 1 50); do
    [ -n "$(in_ns "$n" ss -Hltn "sport = :$port")" ] && break
    sleep 0.1
  done
  echo "$pid"
}

clean_stale() {
  local n pid
  for n in $(ip netns list | awk '{print $1}' | grep -E '^idx[0-9]+-' || true); do
    pid=${n#idx}; pid=${pid%%-*}
    [ -d "/proc/$pid" ] && continue
    down "idx$pid-"
  done
}

cmd=${1:-}; shift || true
case "$cmd" in
  up) need_root; [ $# -ge 1 ] || die "usage: up PREFIX"; up "$1" ;;
  down) need_root; [ $# -ge 1 ] || die "usage: down PREFIX"; down "$1" ;;
  exec) need_root; [ $# -ge 3 ] || die "usage: exec PREFIX ROLE CMD..."
        p=$1; r=$2; shift 2; exec ip netns exec "$(ns "$p" "$r")" "$@" ;;
  nginx) need_root; [ $# -ge 3 ] || die "usage: nginx PREFIX ROLE ROOT [PORT]"; nginx_up "$@" ;;
  fingerd) need_root; [ $# -ge 2 ] || die "usage: fingerd PREFIX ROLE [PORT]"; fingerd_up "$@" ;;
  silent) need_root; [ $# -ge 1 ] || die "usage: silent PREFIX"; silent "$1" ;;
  dnsdelay) need_root; [ $# -ge 3 ] || die "usage: dnsdelay PREFIX BIN MS [ARGS]"; dnsdelay "$@" ;;
  dnsdirect) need_root; [ $# -ge 1 ] || die "usage: dnsdirect PREFIX"; resolv_conf "$1" 10.200.3.53 ;;
  clean-stale) need_root; clean_stale ;;
  ns) [ $# -ge 2 ] || die "usage: ns PREFIX ROLE"; ns "$1" "$2" ;;
  *) die "usage: testnet.sh up|down|exec|nginx|fingerd|silent|dnsdelay|dnsdirect|clean-stale|ns ..." ;;
esac
