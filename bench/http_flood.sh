#!/usr/bin/env bash
# Resident memory of THttpCli while a loopback server answers every request
# with "HTTP/1.0 200 OK" and then header lines without end: the client asks
# again as soon as each request ends, for SECONDS (default 30).
#
#   bench/http_flood.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=${1:-$src/build}
seconds=${2:-30}

cmake -S "$src" -B "$build" >/dev/null
cmake --build "$build" --target bench_httpflood -j2 >/dev/null
bench=$(find "$build" -name bench_httpflood -type f -perm -u+x | head -1)

work=$(mktemp -d /tmp/http_flood.XXXXXX)
server_pid=
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

python3 - "$work/port" <<'PY' &
import socket, sys, threading
srv = socket.socket()
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", 0))
srv.listen(16)
open(sys.argv[1], "w").write(str(srv.getsockname()[1]))
line = b"X-Endless: " + b"e" * 100 + b"\r\n"
def serve(c):
    try:
        c.recv(4096)
        c.sendall(b"HTTP/1.0 200 OK\r\n")
        while True:
            c.sendall(line * 64)
    except OSError:
        pass
    finally:
        c.close()
while True:
    c, _ = srv.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
PY
server_pid=$!
for _ in $(seq 1 50); do [ -s "$work/port" ] && break; sleep 0.1; done
"$bench" "http://127.0.0.1:$(cat "$work/port")/" "$seconds"
