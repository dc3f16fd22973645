"""What the end-to-end drivers share about the program's own files: its window
title, and settings files written the way the program writes them."""
import time

TITLE = "Tavimor (TVX) v1.0 - 26 Nov 2011 by Brennick"
SEP, END = b"\xa4", b"\xff"
STAMP = rb"\d\d [A-Z][a-z][a-z] \d{4}@\d\d:\d\d"


def settings_file(download_dir, rows):
    """A settings file holding rows (lists of five byte strings), window at 40,30."""
    entry = b"".join(SEP.join(r + [b"0"]) + END for r in rows)
    return (b"; Tavimor (TVX)  - Do not manually edit this file\r\n[Global]\r\n"
            b"Default Download Directory = " + download_dir.encode() + b"\r\n"
            b"Window X Position = 40\r\nWindow Y Position = 30\r\n"
            b"Window Minimized = No\r\n[Links]\r\nEntry = " + entry + b"\r\n")


def stamp(seconds_ago=0):
    """A "Last retry" stamp of the local time seconds_ago, as the program writes it."""
    t = time.localtime(time.time() - seconds_ago)
    month = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()[t.tm_mon - 1]
    return ("%02d %s %04d@%02d:%02d" % (t.tm_mday, month, t.tm_year, t.tm_hour, t.tm_min)).encode()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
