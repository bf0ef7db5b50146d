#!/usr/bin/env python3
"""HTTP/1.0 server on loopback that sends one document slowly: SIZE bytes of
body in CHUNKS equal pieces spread evenly over SECONDS, the last at SECONDS
after the request was read, then closes. Serves connections one at a time,
forever. Prints its port on stdout once it listens.

    slow_reply.py [SIZE] [SECONDS] [CHUNKS]
"""
import socket
import sys
import time

size = int(sys.argv[1]) if len(sys.argv) > 1 else 65536
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 3.0
chunks = int(sys.argv[3]) if len(sys.argv) > 3 else 64

body = bytes((i * 7 + 13) % 251 for i in range(size))
piece = -(-size // chunks)

srv = socket.socket()
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", 0))
srv.listen(8)
print(srv.getsockname()[1], flush=True)

while True:
    conn, _ = srv.accept()
    with conn:
        conn.settimeout(10)
        request = b""
        try:
            while b"\r\n\r\n" not in request and len(request) < 65536:
                data = conn.recv(4096)
                if not data:
                    break
                request += data
        except OSError:
            continue
        start = time.monotonic()
        try:
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
                         b"Content-Length: %d\r\n\r\n" % size)
            # Piece k leaves at (k+1)/chunks of the span, the last at its
            # end, on absolute times so the sends never drift.
            for k in range(chunks):
                due = start + seconds * (k + 1) / chunks
                delay = due - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
                conn.sendall(body[k * piece:(k + 1) * piece])
        except OSError:
            pass
