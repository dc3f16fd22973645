#!/usr/bin/env python3
"""An HTTP proxy on loopback, run as a child of the C++ tests
(tests/support/http_proxy.h drives it).

  http_proxy.py serve --log-dir DIR [--user NAME --password PW]
                      [--refuse-connect STATUS] [--port-file FILE --while-exists FILE]
      Listens, reports its port and ends as tls_server.py serve does.
      A request in absolute form ("GET http://host:port/path HTTP/1.1") goes
      to host:port in origin form, without its Proxy-Authorization, and the
      answer comes back as it is until the origin closes. CONNECT host:port
      opens a tunnel: "200 Connection established", then bytes both ways
      until either side closes; 502 when the origin cannot be reached, and
      with --refuse-connect every CONNECT gets "STATUS Refused" instead.
      With --user and --password, a request without those Basic credentials
      gets 407 and the connection closes. A request in neither form, or with
      a head over 64 KiB, gets 400; a connection silent for 10 s is closed.

  Each request line as received goes to DIR/requests, a line each, followed
  by a tab and its Proxy-Authorization value or "-"; the first error goes to
  DIR/error.
"""

import argparse
import base64
import functools
import os
import select
import socket
import sys
import threading

# The loopback listeners, the error log and the end are tls_server.py's; no bytecode
# next to the sources.
sys.dont_write_bytecode = True
from tls_server import log_once, run  # noqa: E402

HEAD_LIMIT = 64 * 1024
TIMEOUT = 10

log_lock = threading.Lock()


def log_request(options, line, authorization):
    with log_lock, open(os.path.join(options.log_dir, "requests"), "ab") as out:
        out.write(line + b"\t" + (authorization if authorization is not None else b"-") + b"\n")


def answer(conn, status, reason, headers=b""):
    conn.sendall(b"HTTP/1.1 %d %s\r\n%sContent-Length: 0\r\n\r\n" % (status, reason, headers))


def read_head(conn):
    """The request head up to its empty line and the bytes after it; b"", b""
    when the client closes before a byte, None for a head over HEAD_LIMIT."""
    data = bytearray()
    while True:
        end = data.find(b"\r\n\r\n")
        if end >= 0 and end + 4 <= HEAD_LIMIT:
            return bytes(data[:end + 4]), bytes(data[end + 4:])
        if len(data) >= HEAD_LIMIT:
            return None
        chunk = conn.recv(65536)
        if not chunk:
            if data:
                raise ConnectionError("the client closed within its request head")
            return b"", b""
        data += chunk


def split_host_port(authority, default_port):
    """("host", port) from "host", "host:port" or "[v6]:port"; None when it
    is neither."""
    host, port = authority, default_port
    colon = authority.rfind(b":")
    if colon >= 0 and b"]" not in authority[colon:]:
        host, port = authority[:colon], authority[colon + 1:]
        port = int(port) if port.isdigit() else 0
    if host.startswith(b"[") and host.endswith(b"]"):
        host = host[1:-1]
    if not host or not port or port > 65535 or not host.isascii():
        return None
    return host.decode("ascii"), port


def relay(client, origin):
    """Bytes both ways until either side closes or resets, or neither says
    anything for TIMEOUT seconds."""
    peers = {client: origin, origin: client}
    while True:
        ready, _, _ = select.select(list(peers), [], [], TIMEOUT)
        if not ready:
            return
        for source in ready:
            try:
                chunk = source.recv(65536)
            except ConnectionResetError:
                # A client that has what it wanted may close with the
                # server's last bytes (a TLS close_notify) unread.
                return
            if not chunk:
                return
            peers[source].sendall(chunk)


def handle(conn, options):
    got = read_head(conn)
    if got is None:
        answer(conn, 400, b"Bad Request")
        return
    head, rest = got
    if not head:
        return
    lines = head[:-4].split(b"\r\n")
    authorization = None
    kept = []
    for line in lines[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"proxy-authorization":
            authorization = value.strip()
        else:
            kept.append(line)
    log_request(options, lines[0], authorization)
    words = lines[0].split(b" ")
    if len(words) != 3:
        answer(conn, 400, b"Bad Request")
        return
    method, target, version = words

    if options.user is not None:
        expected = base64.b64encode(("%s:%s" % (options.user, options.password)).encode())
        scheme, _, credentials = (authorization or b"").partition(b" ")
        if scheme.lower() != b"basic" or credentials.strip() != expected:
            answer(conn, 407, b"Proxy Authentication Required",
                   b'Proxy-Authenticate: Basic realm="test"\r\n')
            return

    address = None
    if method == b"CONNECT":
        if options.refuse_connect:
            answer(conn, options.refuse_connect, b"Refused")
            return
        address = split_host_port(target, None)
        first = b"HTTP/1.1 200 Connection established\r\n\r\n"
    elif target[:7].lower() == b"http://":
        after = target[7:]
        cut = min((i for i in (after.find(b"/"), after.find(b"?")) if i >= 0), default=len(after))
        path = after[cut:] or b"/"
        if path.startswith(b"?"):
            path = b"/" + path
        address = split_host_port(after[:cut].rpartition(b"@")[2], 80)
        first = None
        rest = b"\r\n".join([b" ".join([method, path, version])] + kept) + b"\r\n\r\n" + rest
    if address is None:
        answer(conn, 400, b"Bad Request")
        return

    try:
        origin = socket.create_connection(address, timeout=TIMEOUT)
    except OSError as error:
        log_once(options, "error", ("cannot reach %s:%d: %s" % (*address, error)).encode())
        answer(conn, 502, b"Bad Gateway")
        return
    with origin:
        if first:
            conn.sendall(first)
        if rest:
            origin.sendall(rest)
        relay(conn, origin)


def serve_connection(conn, address, options):
    with conn:
        conn.settimeout(TIMEOUT)
        try:
            handle(conn, options)
        except Exception as error:
            # A test that fails can tell why from the first one.
            log_once(options, "error", str(error).encode())


def serve(options):
    run(functools.partial(serve_connection, options=options), options)


def main():
    parser = argparse.ArgumentParser()
    commands = parser.add_subparsers(dest="command", required=True)
    server = commands.add_parser("serve")
    server.add_argument("--log-dir", required=True)
    server.add_argument("--user")
    server.add_argument("--password", default="")
    server.add_argument("--refuse-connect", type=int, default=0)
    server.add_argument("--port-file")
    server.add_argument("--while-exists")
    serve(parser.parse_args())


if __name__ == "__main__":
    main()
