#!/usr/bin/python3
"""A loopback HTTP server for the end-to-end tests. It answers every GET with
the bytes of one file, prints "port N" once it listens, then "GET <path>" for
every request it answers, and runs until it is killed. Given a speed, it
sends the body at that many bytes a second, and prints "CUT" when the client
leaves before the end.

Usage: counting_http_server.py <body file> [<bytes a second>]

The end-to-end drivers import CountingServer, which runs it as a process of
its own.
"""
import os
import select
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, HTTPServer


def first_line(process, what, timeout=30):
    """The first line the child process prints on its stdout pipe, waited for
    at most timeout seconds; a failure naming what when none comes."""
    if not select.select([process.stdout], [], [], timeout)[0]:
        process.kill()
        raise AssertionError("%s printed nothing in %d s" % (what, timeout))
    return process.stdout.readline()


class CountingServer:
    """The loopback server as a process of its own; gets holds the paths asked for."""

    def __init__(self, body_path, speed=None):
        self.process = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), body_path] +
            ([str(speed)] if speed else []), stdout=subprocess.PIPE, text=True)
        self.port = int(first_line(self.process, "the counting server").split()[1])
        self.gets = []
        self.cuts = 0
        threading.Thread(target=self._collect, daemon=True).start()

    def _collect(self):
        for line in self.process.stdout:
            if line.startswith("GET "):
                self.gets.append(line[4:].strip())
            elif line.startswith("CUT"):
                self.cuts += 1

    def stop(self):
        self.process.kill()
        self.process.wait()


def main():
    with open(sys.argv[1], "rb") as f:
        body = f.read()
    speed = int(sys.argv[2]) if len(sys.argv) > 2 else 0

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_GET(self):
            print("GET " + self.path, flush=True)
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            if not speed:
                self.wfile.write(body)
                return
            piece = max(speed // 10, 1)
            try:
                for start in range(0, len(body), piece):
                    self.wfile.write(body[start:start + piece])
                    self.wfile.flush()
                    time.sleep(0.1)
            except (BrokenPipeError, ConnectionResetError):
                print("CUT", flush=True)

        def log_message(self, *args):
            pass

    server = HTTPServer(("127.0.0.1", 0), Handler)
    print("port %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
