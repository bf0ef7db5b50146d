#!/usr/bin/env bash
# The test network: network namespaces with veth links, two routers in a
# chain, target hosts and a name server, all under one prefix so that
# parallel test runs do not meet. Every link carries IPv4 and IPv6 (unique
# local addresses). Root only. See README.md for the plan.
#
#   testnet.sh up PREFIX             build the network (tears down a leftover one first)
#   testnet.sh down PREFIX           remove it, ending every process inside it
#   testnet.sh exec PREFIX ROLE CMD  run CMD on a host (ip netns exec: its resolv.conf applies)
#   testnet.sh nginx PREFIX ROLE ROOT [PORT [FAMILY [CERT KEY]]]  serve directory ROOT over HTTP
#                                    on IPv4 and IPv6 (FAMILY both, the default), 4 or 6; over
#                                    HTTPS with CERT and KEY (PEM files); prints the pid
#   testnet.sh certs DIR             make a test CA and server certificates in DIR (see certs())
#   testnet.sh fingerd PREFIX ROLE [PORT]      in.fingerd behind socat (port 79, IPv4 and IPv6); prints the pid
#   testnet.sh silent PREFIX         add the route through a silent router (see below)
#   testnet.sh dnsdelay PREFIX BIN MS [ARGS]  start the delaying DNS forwarder BIN on the name
#                                    server's second address and point the client at it; prints the pid
#   testnet.sh dnsdirect PREFIX      point the client at the name server itself again
#   testnet.sh nat PREFIX UDP TCP    make r1 a NAT (nftables masquerade towards r2) whose
#                                    conntrack forgets idle UDP mappings after UDP seconds
#                                    and idle established TCP ones after TCP seconds
#   testnet.sh nat-off PREFIX        r1 routes again without translating
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
  in_ns "$n" sysctl -qw net.ipv4.icmp_ratelimit=0 net.ipv4.icmp_msgs_per_sec=100000 \
    net.ipv6.icmp.ratelimit=0
  # IPv6 addresses are usable at once: no duplicate address detection on
  # links that only the tests made (this also covers the link-local ones).
  in_ns "$n" sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0
}

# addr6 NS DEV ADDR/LEN: an IPv6 address without duplicate address detection.
addr6() { ip -n "$1" -6 addr add "$3" dev "$2" nodad; }

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
  #        fd00:200:1::2   fd00:200:1::1  fd00:200:2::1   fd00:200:2::2  fd00:200:3::1
  link "$C" eth0 "$R1" eth0
  ip -n "$C" addr add 10.200.1.2/24 dev eth0
  ip -n "$C" route add default via 10.200.1.1
  ip -n "$R1" addr add 10.200.1.1/24 dev eth0
  addr6 "$C" eth0 fd00:200:1::2/64
  addr6 "$R1" eth0 fd00:200:1::1/64
  # A link-local address of r1 that tests can name: fe80::1%eth0 from the client.
  addr6 "$R1" eth0 fe80::1/64
  ip -n "$C" -6 route add default via fd00:200:1::1

  link "$R1" eth1 "$R2" eth0
  ip -n "$R1" addr add 10.200.2.1/24 dev eth1
  ip -n "$R2" addr add 10.200.2.2/24 dev eth0
  addr6 "$R1" eth1 fd00:200:2::1/64
  addr6 "$R2" eth0 fd00:200:2::2/64
  # r1 knows only the hosts' LAN: anything else gets "network unreachable".
  ip -n "$R1" route add 10.200.3.0/24 via 10.200.2.2
  ip -n "$R2" route add 10.200.1.0/24 via 10.200.2.1
  ip -n "$R1" -6 route add fd00:200:3::/64 via fd00:200:2::2
  ip -n "$R2" -6 route add fd00:200:1::/64 via fd00:200:2::1
  in_ns "$R1" sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
  in_ns "$R2" sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1

  # Without a multicast querier on the LAN, snooping could keep neighbour
  # solicitations from the hosts.
  ip -n "$R2" link add br0 type bridge mcast_snooping 0
  ip -n "$R2" link set br0 up
  ip -n "$R2" addr add 10.200.3.1/24 dev br0
  addr6 "$R2" br0 fd00:200:3::1/64
  local host addr
  for host in host:10 quiet:20 slow:30 dns:53; do
    addr=${host#*:}; host=${host%%:*}
    local H; H=$(ns "$p" "$host")
    link "$H" eth0 "$R2" "p$host"
    ip -n "$R2" link set "p$host" master br0
    ip -n "$H" addr add "10.200.3.$addr/24" dev eth0
    ip -n "$H" route add default via 10.200.3.1
    addr6 "$H" eth0 "fd00:200:3::$addr/64"
    ip -n "$H" -6 route add default via fd00:200:3::1
  done
  # A third address written with every group: the longest kind of address
  # the window has to show.
  addr6 "$(ns "$p" host)" eth0 fd00:200:3:0:fedc:ba98:7654:3210/64
  # The host's second address sits behind a narrow route on r2: IPv6
  # packets above 1280 bytes get "packet too big" from r2.
  addr6 "$(ns "$p" host)" eth0 fd00:200:3::11/64
  ip -n "$R2" -6 route add fd00:200:3::11/128 dev br0 mtu lock 1280
  # quiet never answers; slow answers only through the echo responder.
  for host in quiet slow; do
    in_ns "$(ns "$p" "$host")" sysctl -qw net.ipv4.icmp_echo_ignore_all=1 \
      net.ipv6.icmp.echo_ignore_all=1
  done
  # The client may use datagram ICMP sockets; tests forbid it to force raw ones.
  in_ns "$C" sysctl -qw net.ipv4.ping_group_range="0 2147483647"

  # Name server with forward and reverse records of every test host. It logs
  # every question it gets, so tests can count the lookups that reached it.
  # The IPv4 names have IPv4 records only (their users expect those); the
  # IPv6 addresses have names of their own under v6.idlix.test, with
  # ip6.arpa records, and dual.idlix.test has one address of each family.
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
fd00:200:1::2 client.v6.idlix.test
fd00:200:1::1 r1.v6.idlix.test
fd00:200:2::2 r2.v6.idlix.test
fd00:200:3::10 host.v6.idlix.test
fd00:200:3::11 narrow.v6.idlix.test
fd00:200:3:0:fedc:ba98:7654:3210 long.v6.idlix.test
fd00:200:3::20 quiet.v6.idlix.test
fd00:200:3::30 slow.v6.idlix.test
fd00:200:3::53 ns.v6.idlix.test
fd00:200:3::10 dual.idlix.test
10.200.3.10 dual.idlix.test
HOSTS
  in_ns "$(ns "$p" dns)" dnsmasq --conf-file=/dev/null --no-resolv --no-hosts \
    --addn-hosts="$hosts" --local=/#/ --listen-address=10.200.3.53,fd00:200:3::53 --bind-interfaces \
    --pid-file="$STATE_DIR/${p}dnsmasq.pid" --user=root --group=root --no-negcache \
    --txt-record=txt.idlix.test,"idlix test record" --mx-host=idlix.test,host.idlix.test,10 \
    --log-queries --log-facility="$STATE_DIR/${p}dnsmasq.log"

  mkdir -p "/etc/netns/$C"
  resolv_conf "$p" 10.200.3.53
  printf '127.0.0.1 localhost\n' >"/etc/netns/$C/hosts"
  # The client's address sorting policy: the system's defaults, reread
  # whenever the file changes, so that tests can change the order of
  # IPv4 and IPv6 answers. ip netns exec shows it only where the machine
  # has the file to lay it over.
  if [ -e /etc/gai.conf ]; then
    printf 'reload yes\n' >"/etc/netns/$C/gai.conf"
  fi

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
  rm -rf "$STATE_DIR/${p}hosts" "$STATE_DIR/${p}dnsmasq.pid" "$STATE_DIR/${p}dnsmasq.log" \
    "$STATE_DIR/${p}"nginx* "$STATE_DIR/${p}dnsdelay.ready"
}

# A route whose third hop never answers, as routers that drop their ICMP do:
#   client - r1 - r2 - mute 10.200.3.40 (on r2's LAN) / 10.200.4.1 - beyond 10.200.4.10
#                      fd00:200:3::40 / fd00:200:4::1             fd00:200:4::10
# mute forwards, but everything it would send of its own (time exceeded,
# echo replies) goes to a blackhole: the output route lookup of a locally
# made packet comes from "iif lo", which forwarded packets never do.
# (Neighbour discovery does no route lookup, so mute still answers it.)
# beyond.idlix.test and beyond.v6.idlix.test name the far host; the routers
# before it keep answering.
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
  addr6 "$M" eth0 fd00:200:3::40/64
  ip -n "$M" -6 route add default via fd00:200:3::1
  addr6 "$M" eth1 fd00:200:4::1/64
  addr6 "$B" eth0 fd00:200:4::10/64
  ip -n "$B" -6 route add default via fd00:200:4::1
  in_ns "$M" sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
  ip -n "$M" rule add iif lo lookup 77 pref 77
  ip -n "$M" route add blackhole default table 77
  ip -n "$M" -6 rule add iif lo lookup 77 pref 77
  ip -n "$M" -6 route add blackhole default table 77
  ip -n "$R2" route add 10.200.4.0/24 via 10.200.3.40
  ip -n "$R1" route add 10.200.4.0/24 via 10.200.2.2
  ip -n "$R2" -6 route add fd00:200:4::/64 via fd00:200:3::40
  ip -n "$R1" -6 route add fd00:200:4::/64 via fd00:200:2::2
  printf '10.200.4.10 beyond.idlix.test\nfd00:200:4::10 beyond.v6.idlix.test\n' >>"$STATE_DIR/${p}hosts"
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
  local p=$1 role=$2 root=$3 port=${4:-80} family=${5:-both} cert=${6:-} key=${7:-}
  local listen ssl="" tls=""
  if [ -n "$cert" ]; then
    ssl=" ssl"
    tls="ssl_certificate $cert; ssl_certificate_key $key; ssl_protocols TLSv1.2 TLSv1.3;"
  fi
  case "$family" in
    4) listen="listen $port$ssl;" ;;
    6) listen="listen [::]:$port$ssl ipv6only=on;" ;;
    *) listen="listen $port$ssl; listen [::]:$port$ssl ipv6only=on;" ;;
  esac
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
    $listen
    $tls
    root $root;
  }
}
CONF
  in_ns "$(ns "$p" "$role")" nginx -c "$conf" -e stderr </dev/null >/dev/null 2>&1 &
  local pid=$!
  # Ready when the port listens (asked of the kernel, so no request is spent).
  local i
  for i in $(seq 1 50); do
    [ -n "$(in_ns "$(ns "$p" "$role")" ss -Hltn "sport = :$port")" ] && break
    sleep 0.1
  done
  echo "$pid"
}

# Certificates for TLS servers on the test network, made with the openssl
# command in DIR (nothing else is written):
#   ca.pem            the test CA (what a client's SSL_CERT_FILE names)
#   valid.pem         host.idlix.test, 10.200.3.10 and fd00:200:3::10, valid
#                     from a day ago until 30 days ahead at midnight UTC
#                     (valid.expiry: that end in Unix seconds), signed by the test CA
#   expired.pem       the same names, valid 2020-01-01 to 2020-02-01
#   wrongname.pem     other.idlix.test only, valid like valid.pem
#   untrusted.pem     the names of valid.pem, signed by a CA no client trusts
# each with its key beside it (*.key). The CAs outlive every leaf, so the
# leaf's end is the chain's earliest.
certs() {
  local d=$1 ca
  command -v openssl >/dev/null || die "the openssl command is missing"
  mkdir -p "$d"
  local names="DNS:host.idlix.test,IP:10.200.3.10,IP:fd00:200:3::10"
  for ca in ca rogue; do
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$d/$ca.key" -out "$d/$ca.pem" -days 7300 \
      -subj "/CN=Idlix test $ca" -addext basicConstraints=critical,CA:true \
      -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
    mkdir -p "$d/$ca.db"
    : >"$d/$ca.db/index.txt"
    cat >"$d/$ca.cnf" <<CNF
[ca]
default_ca = test
[test]
database = $d/$ca.db/index.txt
new_certs_dir = $d/$ca.db
serial = $d/$ca.db/serial
certificate = $d/$ca.pem
private_key = $d/$ca.key
default_md = sha256
policy = any
unique_subject = no
copy_extensions = copy
[any]
commonName = supplied
[leaf]
basicConstraints = CA:false
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
CNF
    openssl rand -hex 8 >"$d/$ca.db/serial"
  done
  leaf() {   # NAME CA CN SANS START END
    openssl req -newkey rsa:2048 -nodes -keyout "$d/$1.key" -out "$d/$1.csr" -subj "/CN=$3" \
      -addext "subjectAltName=$4" 2>/dev/null
    openssl ca -batch -config "$d/$2.cnf" -extensions leaf -in "$d/$1.csr" -out "$d/$1.pem" \
      -startdate "$5" -enddate "$6" -notext 2>/dev/null
    rm -f "$d/$1.csr"
  }
  local start end
  start=$(date -u -d '1 day ago' +%Y%m%d%H%M%SZ)
  end=$(date -u -d "$(date -u -d '+30 days' +%F) 00:00:00" +%Y%m%d%H%M%SZ)
  date -u -d "$(date -u -d '+30 days' +%F) 00:00:00" +%s >"$d/valid.expiry"
  leaf valid ca host.idlix.test "$names" "$start" "$end"
  leaf expired ca host.idlix.test "$names" 20200101000000Z 20200201000000Z
  leaf wrongname ca other.idlix.test "DNS:other.idlix.test" "$start" "$end"
  leaf untrusted rogue host.idlix.test "$names" "$start" "$end"
  # nginx's workers run as another user: the keys must be readable to them.
  chmod 755 "$d"
  chmod 644 "$d"/*.pem "$d"/*.key
  local f
  for f in valid expired wrongname untrusted; do
    [ -s "$d/$f.pem" ] || die "the certificate $f was not made"
  done
}

# Debian's in.fingerd, started per connection by socat as inetd would; it runs
# /usr/bin/finger for the answer. Ends with the namespace at "down".
fingerd_up() {
  local p=$1 role=$2 port=${3:-79}
  command -v socat >/dev/null || die "socat is not installed"
  [ -x /usr/sbin/in.fingerd ] || die "in.fingerd (package fingerd) is not installed"
  [ -x /usr/bin/finger ] || die "finger (package finger) is not installed"
  local n; n=$(ns "$p" "$role")
  # One listener for both families (IPv4 clients arrive as ::ffff:a.b.c.d).
  in_ns "$n" socat "TCP6-LISTEN:$port,fork,reuseaddr,ipv6only=0" EXEC:/usr/sbin/in.fingerd \
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

# r1 as a home gateway: the client's IPv4 packets leave towards r2 with r1's
# address (10.200.2.1) and a port of its choosing, and only answers to what
# went out come back in. The conntrack timeouts are per namespace: both UDP
# ones (a mapping that saw an answer within its first seconds keeps the first
# timeout, one that carries a stream the second) are set alike, and "loose"
# pick-up is off so that a TCP segment after its mapping went finds none.
nat() {
  local p=$1 udp=$2 tcp=$3 R1
  R1=$(ns "$p" r1)
  command -v nft >/dev/null || die "nft (package nftables) is not installed"
  nat_off "$p"
  in_ns "$R1" nft -f - <<NFT
table ip idlixnat {
  chain outward { type nat hook postrouting priority srcnat; oifname "eth1" ip saddr 10.200.1.0/24 masquerade; }
  chain inward {
    type filter hook forward priority filter; policy accept;
    iifname "eth1" oifname "eth0" ct state established,related accept
    iifname "eth1" oifname "eth0" drop
  }
}
NFT
  in_ns "$R1" sysctl -qw net.netfilter.nf_conntrack_udp_timeout="$udp" \
    net.netfilter.nf_conntrack_udp_timeout_stream="$udp" \
    net.netfilter.nf_conntrack_tcp_timeout_established="$tcp" \
    net.netfilter.nf_conntrack_tcp_loose=0
}

nat_off() {
  in_ns "$(ns "$1" r1)" nft delete table ip idlixnat 2>/dev/null || true
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
  nginx) need_root; [ $# -ge 3 ] || die "usage: nginx PREFIX ROLE ROOT [PORT [4|6|both [CERT KEY]]]"; nginx_up "$@" ;;
  certs) [ $# -ge 1 ] || die "usage: certs DIR"; certs "$1" ;;
  fingerd) need_root; [ $# -ge 2 ] || die "usage: fingerd PREFIX ROLE [PORT]"; fingerd_up "$@" ;;
  silent) need_root; [ $# -ge 1 ] || die "usage: silent PREFIX"; silent "$1" ;;
  dnsdelay) need_root; [ $# -ge 3 ] || die "usage: dnsdelay PREFIX BIN MS [ARGS]"; dnsdelay "$@" ;;
  dnsdirect) need_root; [ $# -ge 1 ] || die "usage: dnsdirect PREFIX"; resolv_conf "$1" 10.200.3.53 ;;
  nat) need_root; [ $# -ge 3 ] || die "usage: nat PREFIX UDP TCP"; nat "$@" ;;
  nat-off) need_root; [ $# -ge 1 ] || die "usage: nat-off PREFIX"; nat_off "$1" ;;
  clean-stale) need_root; clean_stale ;;
  ns) [ $# -ge 2 ] || die "usage: ns PREFIX ROLE"; ns "$1" "$2" ;;
  *) die "usage: testnet.sh up|down|exec|nginx|certs|fingerd|silent|dnsdelay|dnsdirect|nat|nat-off|clean-stale|ns ..." ;;
esac
