#!/usr/bin/python3
"""Writes to stdout a settings file of 30 idle links for idle_cost.sh.

Usage: idle_settings.py <download directory ending with /> <port>
Every link points at 127.0.0.1:<port> and is checked every 2 months, so no
check falls due while the program is watched.
"""
import sys

SEP, END = b"\xa4", b"\xff"


def main():
    downloads, port = sys.argv[1].encode(), sys.argv[2].encode()
    entry = b"".join(
        SEP.join([b"http://127.0.0.1:" + port + b"/file%d.bin" % i, b"2 months", b"Idle",
                  b"01 Jan 2024@00:00", b"0", b"0"]) + END
        for i in range(30))
    sys.stdout.buffer.write(
        b"; Tavimor (TVX)  - Do not manually edit this file\r\n[Global]\r\n"
        b"Default Download Directory = " + downloads + b"\r\n"
        b"Window X Position = 40\r\nWindow Y Position = 30\r\nWindow Minimized = No\r\n"
        b"[Links]\r\nEntry = " + entry + b"\r\n")


if __name__ == "__main__":
    main()
