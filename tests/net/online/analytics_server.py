#!/usr/bin/env python3
"""A stand-in analytics server for the tests: an HTTP server on 127.0.0.1, port chosen by
the system, that records every POST it receives and answers in one of several ways.

  analytics_server.py --mode MODE --dir DIR

Writes DIR/port (the port, once listening) and DIR/pid, appends one JSON line per request
to DIR/requests ({"path", "query", "body" (text), "md5ok"}, where md5ok says whether the
query's x equals hashlib.md5(body + b"SealingPhraseAbc").hexdigest()), and stops when
DIR/stop appears or after 300 seconds.

Modes: record (200, empty body), hold (200 once DIR/release exists), never (reads the
request and never answers), status500, malformed (200 with a body of random bytes),
big (200 with a 10 MB body), cut (200 without a length, half a body, then the
connection closes), cutlength (200 announcing 4096 bytes, 12 of them, then the
connection closes).
"""
import argparse
import hashlib
import http.server
import json
import os
import socketserver
import sys
import threading
import time
import urllib.parse

SEAL = b"SealingPhraseAbc"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", default="record")
    parser.add_argument("--dir", required=True)
    args = parser.parse_args()
    folder = args.dir
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *unused):
            pass

        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length)
            parts = urllib.parse.urlsplit(self.path)
            query = urllib.parse.parse_qs(parts.query)
            digest = query.get("x", [""])[0]
            record = {
                "path": parts.path,
                "query": parts.query,
                "body": body.decode("utf-8", "surrogateescape"),
                "md5ok": digest == hashlib.md5(body + SEAL).hexdigest(),
            }
            with lock:
                with open(os.path.join(folder, "requests"), "a", encoding="utf-8", errors="surrogateescape") as f:
                    f.write(json.dumps(record) + "\n")
            mode = args.mode
            if mode == "never":
                while not os.path.exists(os.path.join(folder, "stop")):
                    time.sleep(0.05)
                return
            if mode == "hold":
                while not os.path.exists(os.path.join(folder, "release")):
                    if os.path.exists(os.path.join(folder, "stop")):
                        return
                    time.sleep(0.02)
            if mode == "status500":
                self.answer(500, b"error")
            elif mode == "malformed":
                self.answer(200, bytes((i * 37 + 11) % 256 for i in range(4096)))
            elif mode == "big":
                self.answer(200, b"x" * (10 * 1024 * 1024))
            elif mode == "cut":
                self.send_response(200)
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(b"{\"partial\": ")
                self.wfile.flush()
                self.close_connection = True
            elif mode == "cutlength":
                self.send_response(200)
                self.send_header("Content-Length", "4096")
                self.end_headers()
                self.wfile.write(b"{\"partial\": ")
                self.wfile.flush()
                self.close_connection = True
            else:
                self.answer(200, b"")

        def answer(self, status, body):
            self.send_response(status)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True
        allow_reuse_address = True

    server = Server(("127.0.0.1", 0), Handler)
    with open(os.path.join(folder, "pid"), "w") as f:
        f.write(str(os.getpid()))
    port_tmp = os.path.join(folder, "port.tmp")
    with open(port_tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(port_tmp, os.path.join(folder, "port"))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    deadline = time.time() + 300
    while time.time() < deadline and not os.path.exists(os.path.join(folder, "stop")):
        time.sleep(0.05)
    server.shutdown()
    return 0


if __name__ == "__main__":
    sys.exit(main())
