#!/usr/bin/python3
"""Runs the real tavimor binary on an X display and drives it with synthetic
input (XTEST), the way a user would: it restores a prepared settings file,
gets a link typed and added, is asked to close and says Yes. Then the
settings file and the exit code are checked.

Usage: drive_tavimor.py <path to tavimor>   (DISPLAY must name a running X server)
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from x_desktop import Desktop, answer_yes, wait_for  # noqa: E402
from tavimor_files import TITLE, settings_file  # noqa: E402


def main():
    binary = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="tavimor-e2e-")
    try:
        run(binary, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run(binary, work):
    downloads = os.path.join(work, "downloads") + "/"
    os.mkdir(downloads)
    shutil.copy(binary, work)
    rows = [[b"http://127.0.0.1:9/a.zip", b"2 hours", b"Trying", b"01 Jan 2020@00:00", b"3"],
            [b"http://127.0.0.1:9/done.zip", b"1 hour", b"DONE!", b"02 Jan 2020@00:00", b"9"]]
    settings = os.path.join(work, "Tavimor.ini")
    with open(settings, "wb") as f:
        f.write(settings_file(downloads, rows))

    program = subprocess.Popen([os.path.join(work, "tavimor")], cwd=work)
    try:
        desktop = Desktop()
        window = wait_for("the window", lambda: desktop.window_titled(TITLE), timeout=20,
                          step=0.05)
        time.sleep(0.5)
        desktop.click(window, 250, 10)          # into the link field
        desktop.type("http://127.0.0.1:9/new.zip")
        desktop.click(window, 530, 10)          # Add
        desktop.close(window)
        answer_yes(desktop, window)
        code = program.wait(timeout=20)
    finally:
        if program.poll() is None:
            program.kill()
    assert code == 0, "exit code %d" % code

    with open(settings, "rb") as f:
        saved = f.read()
    expected = re.compile(
        rb"; Tavimor \(TVX\)  - Do not manually edit this file, it may cause crashes and other "
        rb"twilight zone situations!\r\n\[Global\]\r\n"
        rb"Default Download Directory = " + re.escape(downloads.encode()) + rb"\r\n"
        rb"Window X Position = 40\r\nWindow Y Position = 30\r\nWindow Minimized = No\r\n"
        rb"\[Links\]\r\nEntry = "
        rb"http://127\.0\.0\.1:9/a\.zip\xa42 hours\xa4Idle\xa401 Jan 2020@00:00\xa43\xa4(\d+)\xff"
        rb"http://127\.0\.0\.1:9/new\.zip\xa41 hour\xa4Idle\xa4"
        rb"\d\d [A-Z][a-z][a-z] \d{4}@\d\d:\d\d\xa40\xa4(\d+)\xff\r\n\Z")
    match = expected.match(saved)
    assert match, "unexpected settings file: %r" % saved
    assert match.group(1) == match.group(2), "one save, one time"
    print("end-to-end run passed")


if __name__ == "__main__":
    main()
