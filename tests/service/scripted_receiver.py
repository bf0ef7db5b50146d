#!/usr/bin/env python3
# An HTTP receiver for the remote-write and Alertmanager tests:
#   scripted_receiver.py FOLDER [STATUS,STATUS,...]
# answers the n-th POST with the n-th status (204 after the list; 429 with
# "Retry-After: 1") and keeps each request as FOLDER/NNN.head and NNN.body.
# It listens on a free loopback port and writes the port to FOLDER/port.
import http.server
import os
import sys
import threading

folder = sys.argv[1]
statuses = [int(s) for s in (sys.argv[2] if len(sys.argv) > 2 else "").split(",") if s]
count = 0
lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_POST(self):
        global count
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with lock:
            count += 1
            status = statuses[count - 1] if count <= len(statuses) else 204
            name = os.path.join(folder, "%03d" % count)
            with open(name + ".body", "wb") as f:
                f.write(body)
            with open(name + ".head.part", "w") as f:
                f.write(str(self.headers))
            os.rename(name + ".head.part", name + ".head")
        reply = ("scripted %d\n" % status).encode() if status != 204 else b""
        self.send_response(status)
        if status == 429:
            self.send_header("Retry-After", "1")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


# One thread per connection: a client that keeps its connection open (as
# Alertmanager does) holds up no other.
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(os.path.join(folder, "port.part"), "w") as f:
    f.write(str(server.server_address[1]))
os.rename(os.path.join(folder, "port.part"), os.path.join(folder, "port"))
server.serve_forever()
