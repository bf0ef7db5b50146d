#!/usr/bin/env bash
# Transfer times of THttpCli against curl: 200 GETs (HTTP/1.0, one connection
# each) of a small page and of a 1 MB document from a local nginx on loopback,
# both clients in one run. Prints the median times side by side.
#
#   bench/http_bench.sh [BUILD_DIR] [COUNT]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
count=${2:-200}

command -v nginx >/dev/null || { echo "http_bench: nginx is missing (apt-get install nginx-light)" >&2; exit 1; }
command -v curl >/dev/null || { echo "http_bench: curl is missing (apt-get install curl)" >&2; exit 1; }
cmake -S "$src" -B "$build" >/dev/null
cmake --build "$build" --target bench_http -j2 >/dev/null
bench=${BENCH_HTTP_BIN:-$(find "$build" -name bench_http -type f -perm -u+x | head -1)}   # BENCH_HTTP_BIN: another build to compare

work=$(mktemp -d /tmp/http_bench.XXXXXX)
nginx_pid=
cleanup() { [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

mkdir -p "$work/www" "$work/tmp"
head -c 600 /dev/zero | tr '\0' 'a' >"$work/www/small.html"
head -c 1048576 /dev/urandom >"$work/www/big.bin"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<CONF
daemon off;
master_process off;
pid $work/nginx.pid;
error_log stderr error;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $work/tmp;
  proxy_temp_path $work/tmp;
  fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp;
  scgi_temp_path $work/tmp;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
nginx -c "$work/nginx.conf" -e stderr </dev/null >/dev/null 2>&1 &
nginx_pid=$!
for _ in $(seq 1 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) { print "-"; exit } m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.3f", m }'; }

# curl: one process, COUNT transfers, each a new HTTP/1.0 connection; time_total in ms.
curl_times() {
  local url=$1 args=() i
  for ((i = 0; i < count; i++)); do args+=(-o /dev/null "$url"); done
  curl -s --http1.0 -H 'Pragma: no-cache' -w '%{time_total}\n' "${args[@]}" | awk '{ printf "%.3f\n", $1 * 1000 }'
}
# THttpCli: microseconds per Get, to ms.
cli_times() { "$bench" "$1" "$count" 2>/dev/null | awk '{ printf "%.3f\n", $1 / 1000 }'; }

printf "%-22s %14s %14s\n" "document ($count GETs)" "THttpCli ms" "curl ms"
for doc in small.html big.bin; do
  url="http://127.0.0.1:$port/$doc"
  size=$(stat -c %s "$work/www/$doc")
  a=$(cli_times "$url" | median)
  b=$(curl_times "$url" | median)
  printf "%-22s %14s %14s\n" "$doc ($size B)" "$a" "$b"
done
