#!/usr/bin/python3
"""A loopback HTTP server for the end-to-end tests. It answers every GET with
the bytes of one file, prints "port N" once it listens, then "GET <path>" for
every request it answers, and runs until it is killed.

Usage: counting_http_server.py <body file>
"""
import sys
from http.server import BaseHTTPRequestHandler, HTTPServer


def main():
    with open(sys.argv[1], "rb") as f:
        body = f.read()

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_GET(self):
            print("GET " + self.path, flush=True)
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(body)
            self.close_connection = True

        def log_message(self, *args):
            pass

    server = HTTPServer(("127.0.0.1", 0), Handler)
    print("port %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
