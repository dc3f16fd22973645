#!/usr/bin/env python3
"""A loopback proxy that cuts downloads short, for bench/resume_bench.sh.

    cut_proxy.py LISTEN_PORT UPSTREAM_PORT CUTS STATS_FILE [SEED]

Forwards every connection on 127.0.0.1:LISTEN_PORT to 127.0.0.1:UPSTREAM_PORT.
Until CUTS connections have been cut, each connection that answers anything is
given a random allowance between 5% and 30% of a gigabyte (so three cuts always
fall inside one); once it has carried that many bytes towards the client it is
closed on both sides. STATS_FILE is rewritten after
every connection ends: "connections=N cuts=N bytes=N", bytes being everything
sent to clients, headers included.
"""
import os
import random
import socket
import sys
import threading

listen_port, upstream_port, cuts_wanted = (int(a) for a in sys.argv[1:4])
stats_file = sys.argv[4]
rng = random.Random(int(sys.argv[5]) if len(sys.argv) > 5 else None)
lock = threading.Lock()
state = {"connections": 0, "cuts": 0, "bytes": 0, "planned": 0}


def write_stats():
    with open(stats_file + ".tmp", "w") as out:
        out.write("connections=%d cuts=%d bytes=%d\n" % (state["connections"], state["cuts"], state["bytes"]))
    os.replace(stats_file + ".tmp", stats_file)


def pump_request(client, upstream):
    try:
        while True:
            data = client.recv(65536)
            if not data:
                break
            upstream.sendall(data)
    except OSError:
        pass


def serve(client):
    with lock:
        state["connections"] += 1
    allowance = None
    upstream = socket.create_connection(("127.0.0.1", upstream_port))
    threading.Thread(target=pump_request, args=(client, upstream), daemon=True).start()
    carried = 0
    cut = False
    try:
        while True:
            data = upstream.recv(65536)
            if not data:
                break
            if carried == 0:
                # Decided at the answer, so a connection that only probes the port takes no cut.
                with lock:
                    if state["planned"] < cuts_wanted:
                        state["planned"] += 1
                        allowance = int(rng.uniform(0.05, 0.30) * 1e9)
            if allowance is not None and carried + len(data) >= allowance:
                data = data[: allowance - carried]
                cut = True
            client.sendall(data)
            carried += len(data)
            if cut:
                break
    except OSError:
        pass
    for s in (client, upstream):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        s.close()
    with lock:
        state["bytes"] += carried
        if cut:
            state["cuts"] += 1
        elif allowance is not None:
            state["planned"] -= 1  # the body ended first: that cut is still owed
        write_stats()


def main():
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", listen_port))
    listener.listen(16)
    write_stats()
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client,), daemon=True).start()


main()
