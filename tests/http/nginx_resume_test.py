#!/usr/bin/env python3
"""Resume against Debian's own nginx, as users meet it.
    nginx_resume_test.py FETCH_UNTIL_DONE
Starts nginx on a free loopback port with a configuration of its own in a
temporary directory, and a proxy in front that cuts chosen connections short;
FETCH_UNTIL_DONE fetches through the proxy until the file is whole.
"""
import os
import pathlib
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

MIB = 1 << 20
SIZE = 8 * MIB
# name, location, each connection's allowance until they run out, replaced at the cut, resumes
ROWS = [
    ("cut-twice.bin", "/", [2 * MIB, 3 * MIB], False, True),
    ("replaced.bin", "/", [3 * MIB], True, False),
    ("no-range.bin", "/norange/", [3 * MIB], False, False),
]
CONF = """daemon off; worker_processes 1; pid {w}/pid; error_log {w}/error.log;
events {{ worker_connections 64; }}
http {{ access_log off; client_body_temp_path {w}/body; proxy_temp_path {w}/proxy;
  fastcgi_temp_path {w}/fastcgi; uwsgi_temp_path {w}/uwsgi; scgi_temp_path {w}/scgi;
  server {{ listen 127.0.0.1:{port}; root {w}/www;
    location /norange/ {{ alias {w}/www/; max_ranges 0; }} }} }}
"""


def pump(source, sink):
    try:
        while data := source.recv(65536):
            sink.sendall(data)
    except OSError:
        pass


def serve_cutting(listener, upstream_port, cuts, on_cut, carried):
    """Connection i carries at most cuts[i] bytes to the client, then both sides
    close; on_cut runs before the client can see the cut, so before its next try."""
    while True:
        try:
            client, _ = listener.accept()
        except OSError:
            return
        allowance = cuts.pop(0) if cuts else SIZE * 2
        upstream = socket.create_connection(("127.0.0.1", upstream_port))
        threading.Thread(target=pump, args=(client, upstream), daemon=True).start()
        sent = 0
        while sent < allowance and (data := upstream.recv(65536)):
            client.sendall(data[: allowance - sent])
            sent += min(len(data), allowance - sent)
        if sent == allowance:
            on_cut()
        carried.append(sent)
        for s in (client, upstream):
            s.shutdown(socket.SHUT_RDWR)  # close alone sends nothing while the pump still waits on it
            s.close()


def fill(path, mtime):
    with open(path, "wb") as out:
        out.write(random.randbytes(SIZE))
    os.chmod(path, 0o644)
    os.utime(path, (mtime, mtime))


def run_row(w, nginx_port, name, location, cuts, replace, resumes):
    served, target = os.path.join(w, "www", name), os.path.join(w, "out", name)
    fill(served, time.time() - 100)
    # nginx's ETag is the mtime in seconds and the size: a same-size file replaced
    # within the same second keeps it, so the new one is given a later time.
    on_cut = (lambda: fill(served, time.time())) if replace else (lambda: None)
    listener = socket.create_server(("127.0.0.1", 0))
    carried = []
    proxy = threading.Thread(target=serve_cutting, args=(listener, nginx_port, list(cuts), on_cut, carried))
    proxy.start()
    url = "http://127.0.0.1:%d%s%s" % (listener.getsockname()[1], location, name)
    said = subprocess.run([driver, url, target, "5"], capture_output=True, text=True, timeout=40).stdout
    listener.shutdown(socket.SHUT_RDWR)  # wakes the proxy's accept once its last connection is counted
    proxy.join()
    listener.close()
    got = pathlib.Path(target).read_bytes() if os.path.exists(target) else b""
    resumed = sum(carried) <= 1.05 * SIZE
    faults = [
        (got != pathlib.Path(served).read_bytes(), "the file is not nginx's"),
        (said.count("(kept for the next check)") != len(cuts), "not every cut kept a part"),
        (os.path.exists(target + ".part"), "a part left behind"),
        (os.path.exists(target + ".part.tavimor"), "a part's record left behind"),
        (resumed != resumes, "%d bytes through the proxy" % sum(carried)),
    ]
    return ["%s: %s\n%s" % (name, text, said) for failed, text in faults if failed]


def main():
    w = tempfile.mkdtemp(prefix="tavimor-nginx-")
    os.chmod(w, 0o755)  # nginx's workers run as nobody when the test runs as root
    os.mkdir(os.path.join(w, "www"), 0o755)
    os.mkdir(os.path.join(w, "out"))
    with socket.create_server(("127.0.0.1", 0)) as probe:
        port = probe.getsockname()[1]
    with open(os.path.join(w, "nginx.conf"), "w") as out:
        out.write(CONF.format(w=w, port=port))
    nginx = subprocess.Popen(["/usr/sbin/nginx", "-p", w, "-c", w + "/nginx.conf", "-e", w + "/error.log"])
    faults = []
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port)).close()
                break
            except OSError:
                time.sleep(0.05)
        else:
            sys.exit("nginx never listened")
        for row in ROWS:
            faults += run_row(w, port, *row)
    finally:
        nginx.terminate()
        nginx.wait(10)
        shutil.rmtree(w)
    sys.exit("\n".join(faults) or None)


driver = sys.argv[1]
main()
