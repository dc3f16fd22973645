#!/usr/bin/env python3
"""Serves one body of a given size, chunked or until close, to every GET.

usage: body_server.py PORT SIZE chunked|close [CERT KEY]

nginx sends counted bodies only, so the two other framings come from here.
The body is one pseudo-random MiB repeated; chunk sizes vary so that chunk
boundaries fall anywhere in the client's receives.

Given a certificate and its key, every connection speaks TLS first. The bytes
inside TLS are exactly those sent over plain TCP: a proxy in front would
re-frame a chunked body and add a hop that plain HTTP does not have.
"""
import random
import socket
import ssl
import sys
import threading

BLOCK = random.Random(7).randbytes(1 << 20)
TWICE = memoryview(BLOCK + BLOCK)


def body_pieces(size):
    rng = random.Random(11)
    sent = 0
    while sent < size:
        length = min(size - sent, rng.randint(1000, 70000))
        start = sent % len(BLOCK)
        yield TWICE[start:start + length]
        sent += length


def send_body(conn, size, mode):
    request = b""
    while b"\r\n\r\n" not in request:
        data = conn.recv(4096)
        if not data:
            return False
        request += data
    if mode == "chunked":
        conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
        for piece in body_pieces(size):
            conn.sendall(b"%x;n=1\r\n" % len(piece) + piece.tobytes() + b"\r\n")
        conn.sendall(b"0\r\nX-Trailer: 1\r\n\r\n")
    else:
        conn.sendall(b"HTTP/1.0 200 OK\r\n\r\n")
        for piece in body_pieces(size):
            conn.sendall(piece)
    return True


def serve(conn, size, mode, context):
    try:
        if context:
            conn = context.wrap_socket(conn, server_side=True)
        if send_body(conn, size, mode):
            if context:
                # close_notify marks the end of a body sent until close, as a
                # careful server sends it; the client may close without answering.
                conn = conn.unwrap()
            conn.shutdown(socket.SHUT_WR)
    except OSError:
        pass  # a client that gave up: the next one is served all the same
    finally:
        conn.close()


def main():
    port, size, mode = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    context = None
    if len(sys.argv) == 6:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[4], sys.argv[5])
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(16)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, size, mode, context), daemon=True).start()


if __name__ == "__main__":
    main()
