#!/usr/bin/env python3
"""https test servers on loopback, run as children of the C++ tests
(tests/support/tls_server.h drives them).

  tls_server.py make-certs DIR
      Makes a test CA (ca.pem) and, for one server key (server.key), the
      certificates good.pem (localhost, 127.0.0.1, ::1), wrong-name.pem,
      expired.pem and untrusted.pem (signed by a CA nobody trusts) with the
      openssl command, and the empty directory no-more-cas. Made at test
      time because certificates expire; a test run makes them once, before
      its first test, and its tests share them (TAVIMOR_TEST_CERTS).

  tls_server.py serve --log-dir DIR [--cert PEM --key KEY | --plain]
                      [--answer FILE | --directory DIR] [--end close-notify|tcp-close|hold]
                      [--renegotiate-to PEM]
      Listens on 127.0.0.1, and on ::1 when the machine has it, at one free
      port; prints "<port> <1 when ::1 listens, else 0>" and serves until its
      standard input ends.

  With --renegotiate-to, the server speaks TLS 1.2, sends the first half of
  its answer, then shakes hands again presenting PEM, and sends the rest only
  if the client takes that certificate. Python's ssl module cannot
  renegotiate: this mode uses Debian's python3-openssl.

  A Windows test under Wine starts the script as a Unix process, whose
  standard handles it cannot reach: with --port-file FILE the line goes to
  FILE instead, and with --while-exists FILE the server ends once FILE is gone.
  make-certs writes DIR/made last, to say the files are complete.
"""

import argparse
import errno
import functools
import http.server
import os
import secrets
import select
import socket
import ssl
import subprocess
import sys
import threading
import time

GOOD_NAMES = "DNS:localhost,IP:127.0.0.1,IP:::1"

CA_CONFIG = """[ca]
default_ca = test_ca
[test_ca]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any_name
unique_subject = no
[any_name]
commonName = supplied
"""


def make_certs(directory):
    os.makedirs(os.path.join(directory, "no-more-cas"), exist_ok=True)
    made = os.path.join(directory, "made")
    if os.path.exists(made):
        os.remove(made)

    def openssl(*args):
        done = subprocess.run(["openssl", *args], cwd=directory, capture_output=True, text=True)
        if done.returncode != 0:
            sys.exit("openssl " + " ".join(args) + " failed:\n" + done.stderr)

    new_key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"]
    # The CAs sign with RSA: Wine's crypt32 rejects an ECDSA signature whose r
    # or s is shorter than the curve (about one signature in a hundred), and
    # such a certificate would read as "not trusted".
    new_ca_key = ["-newkey", "rsa:2048", "-nodes"]
    # A name of its own for each CA: under Wine each run trusts its own in a
    # store that other runs share, where a chain must find its issuer by name.
    token = secrets.token_hex(4)
    for ca in ("ca", "other-ca"):
        openssl("req", "-x509", *new_ca_key, "-keyout", ca + ".key", "-out", ca + ".pem",
                "-days", "2", "-subj", "/CN=Tavimor test %s %s" % (ca, token),
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign")
    openssl("req", "-new", *new_key, "-keyout", "server.key", "-out", "server.csr",
            "-subj", "/CN=localhost")
    with open(os.path.join(directory, "ca.cnf"), "w") as out:
        out.write(CA_CONFIG)
    open(os.path.join(directory, "index.txt"), "w").close()
    with open(os.path.join(directory, "serial"), "w") as out:
        out.write("01\n")
    now = ("-days", "2")
    # The wrong name still says localhost in its CN, and 127.0.0.1 as a DNS
    # entry: neither may stand in for the names and addresses it lacks.
    for name, ca, names, dates in (
        ("good", "ca", GOOD_NAMES, now),
        ("wrong-name", "ca", "DNS:wrong.test,DNS:127.0.0.1,IP:127.0.0.2", now),
        ("expired", "ca", GOOD_NAMES, ("-startdate", "20200101000000Z",
                                       "-enddate", "20200102000000Z")),
        ("untrusted", "other-ca", GOOD_NAMES, now),
    ):
        with open(os.path.join(directory, name + ".ext"), "w") as out:
            out.write("subjectAltName=" + names + "\n")
        openssl("ca", "-batch", "-notext", "-config", "ca.cnf", "-cert", ca + ".pem",
                "-keyfile", ca + ".key", "-in", "server.csr", "-out", name + ".pem",
                "-extfile", name + ".ext", *dates)
    with open(made, "w") as out:
        out.write("made\n")


def listen():
    """Both loopback addresses at one port, so that "localhost" reaches the
    server whichever address a client tries first."""
    for _ in range(20):
        v4 = socket.create_server(("127.0.0.1", 0))
        port = v4.getsockname()[1]
        try:
            return port, [v4, socket.create_server(("::1", port), family=socket.AF_INET6)]
        except OSError as error:
            if error.errno != errno.EADDRINUSE:  # someone holds this port on ::1
                return port, [v4]
            v4.close()
    sys.exit("no port free on both loopback addresses")


def log_once(options, name, data):
    path = os.path.join(options.log_dir, name)
    try:
        with open(path, "xb") as out:
            out.write(data)
    except FileExistsError:
        pass


def read_head(conn):
    head = bytearray()
    while b"\r\n\r\n" not in head:
        chunk = conn.recv(65536)
        if not chunk:
            break
        head += chunk
    return bytes(head)


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def finish(conn, end):
    if end == "close-notify":
        conn.unwrap()  # waits for the client's close_notify, or its close
    elif end == "tcp-close":
        conn.shutdown(socket.SHUT_RDWR)  # drops TLS first: no close_notify
    else:
        conn.settimeout(None)
        while conn.recv(65536):
            pass


def serve_tls(raw, address, options, context, answer):
    with context.wrap_socket(raw, server_side=True) as conn:
        if options.directory:
            QuietHandler(conn, address, None, directory=options.directory)
            log_once(options, "served", b"a request answered")
        else:
            log_once(options, "request", read_head(conn))
            conn.sendall(answer)
        finish(conn, options.end)


def serve_renegotiating(raw, options, answer):
    from OpenSSL import SSL

    def context(cert):
        made = SSL.Context(SSL.TLS_SERVER_METHOD)
        made.set_max_proto_version(SSL.TLS1_2_VERSION)
        # A resumed session would skip the certificate: every handshake is whole.
        made.set_session_cache_mode(SSL.SESS_CACHE_OFF)
        made.set_options(SSL.OP_NO_TICKET)
        made.use_certificate_file(cert)
        made.use_privatekey_file(options.key)
        return made

    raw.setblocking(False)
    conn = SSL.Connection(context(options.cert), raw)
    conn.set_accept_state()
    until = time.monotonic() + 10

    def drive(step):
        while time.monotonic() < until:
            try:
                return step()
            except (SSL.WantReadError, SSL.WantWriteError):
                select.select([raw], [raw], [], 0.1)
        raise OSError("the client took longer than 10 s")

    drive(conn.do_handshake)
    head = bytearray()
    while b"\r\n\r\n" not in head:
        head += drive(lambda: conn.recv(65536))
    log_once(options, "request", bytes(head))
    half = len(answer) // 2
    drive(lambda: conn.sendall(answer[:half]))
    conn.set_context(context(options.renegotiate_to))
    conn.renegotiate()
    drive(conn.do_handshake)
    # The client's new hello and its answer to our certificate arrive with reads.
    while conn.renegotiate_pending():
        try:
            conn.recv(65536)
        except SSL.WantReadError:
            if time.monotonic() > until:
                raise OSError("the client never shook hands again")
            select.select([raw], [], [], 0.1)
    log_once(options, "renegotiated", b"the client took the new certificate")
    drive(lambda: conn.sendall(answer[half:]))
    drive(conn.shutdown)


def serve_connection(raw, address, options, context, answer):
    with raw:
        raw.settimeout(10)
        try:
            if options.renegotiate_to:
                serve_renegotiating(raw, options, answer)
            elif context:
                serve_tls(raw, address, options, context, answer)
            else:
                # Like a plain HTTP server that answers garbage at once.
                raw.recv(65536)
                raw.sendall(answer)
        except Exception as error:  # OSError, or an SSL.Error when renegotiating
            # Clients that refuse our certificate are what the tests are about;
            # the first error is kept for a test's failure to tell.
            log_once(options, "error", str(error).encode())


def accept_forever(listener, serve):
    while True:
        raw, address = listener.accept()
        threading.Thread(target=serve, args=(raw, address), daemon=True).start()


def serve(options):
    context = None
    if not options.plain:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(options.cert, options.key)
        context.sni_callback = lambda sslobj, name, ctx: name and log_once(
            options, "sni", name.encode())
    answer = b""
    if options.answer:
        with open(options.answer, "rb") as source:
            answer = source.read()
    run(functools.partial(serve_connection, options=options, context=context, answer=answer),
        options)


def run(handler, options):
    """Serves every connection with handler(conn, address) on a thread of its
    own, reports the port, and returns when the test is done with the server.
    Shared with the test's other server scripts."""
    port, listeners = listen()
    for listener in listeners:
        threading.Thread(target=accept_forever, args=(listener, handler), daemon=True).start()
    line = "%d %d\n" % (port, 1 if len(listeners) > 1 else 0)
    if options.port_file:
        with open(options.port_file + ".new", "w") as out:
            out.write(line)
        os.replace(options.port_file + ".new", options.port_file)
    else:
        print(line, end="", flush=True)
    if options.while_exists:
        # Gone with the test's directory too; a test program that died leaves
        # it behind, so there is a last limit as well.
        for _ in range(6000):
            if not os.path.exists(options.while_exists):
                break
            time.sleep(0.1)
        return
    # The test program holds our standard input open: when it ends, even by a
    # crash, so do we, and nothing is left holding its output.
    sys.stdin.buffer.read()


def main():
    parser = argparse.ArgumentParser()
    commands = parser.add_subparsers(dest="command", required=True)
    certs = commands.add_parser("make-certs")
    certs.add_argument("directory")
    server = commands.add_parser("serve")
    server.add_argument("--log-dir", required=True)
    server.add_argument("--cert")
    server.add_argument("--key")
    server.add_argument("--plain", action="store_true")
    server.add_argument("--answer")
    server.add_argument("--directory")
    server.add_argument("--end", default="close-notify",
                        choices=["close-notify", "tcp-close", "hold"])
    server.add_argument("--renegotiate-to")
    server.add_argument("--port-file")
    server.add_argument("--while-exists")
    options = parser.parse_args()
    if options.command == "make-certs":
        make_certs(options.directory)
    else:
        serve(options)


if __name__ == "__main__":
    main()
