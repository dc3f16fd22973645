#!/usr/bin/python3
"""Runs Tavimor.exe under Wine on an X display and ends the Windows session
under it (wineboot --end-session: WM_QUERYENDSESSION, then WM_ENDSESSION).
The settings file, removed while the program ran, must be saved again with its
rows; and the window, whose stored place lay on a monitor this display does
not have, must have opened on the screen, which the saved place shows.

Usage: drive_session_end.py <Tavimor.exe> <scripts/wine-run>
(DISPLAY must name a running X server of 1280 x 800)
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from x_desktop import Desktop, wait_for  # noqa: E402
from tavimor_files import TITLE, read, settings_file, write  # noqa: E402

ROW = [b"http://127.0.0.1:9/kept.zip", b"2 hours", b"Idle", b"01 Jan 2020@00:00", b"3"]


def main():
    exe, wine_run = (os.path.abspath(a) for a in sys.argv[1:3])
    work = tempfile.mkdtemp(prefix="tavimor-session-")
    # A prefix of its own: ending the session ends every program of the prefix.
    env = dict(os.environ, WINEPREFIX=os.path.join(work, "prefix"), TAVIMOR_WINE_ALONE="1")
    program = None
    try:
        shutil.copy(exe, os.path.join(work, "Tavimor.exe"))
        settings = os.path.join(work, "Tavimor.ini")
        stored = settings_file("Z:" + work.replace("/", "\\") + "\\", [ROW])
        write(settings, stored.replace(b"X Position = 40", b"X Position = 3000")
              .replace(b"Y Position = 30", b"Y Position = 2500"))
        program = subprocess.Popen([wine_run, os.path.join(work, "Tavimor.exe")], cwd=work,
                                   env=env)
        desktop = Desktop()
        wait_for("the window", lambda: desktop.window_titled(TITLE), timeout=120, step=0.1)
        time.sleep(1.0)
        os.remove(settings)
        subprocess.run(["wineboot", "--end-session"], env=env, timeout=60,
                       stderr=subprocess.DEVNULL)
        wait_for("the settings saved", lambda: os.path.exists(settings), timeout=20, step=0.1)
        time.sleep(0.5)  # the rename is the last step: the file is whole once it is there
        saved = read(settings)
    finally:
        if program is not None and program.poll() is None:
            program.kill()
            program.wait()
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)
    entry = re.escape(ROW[0]) + rb"\xa42 hours\xa4Idle\xa401 Jan 2020@00:00\xa43\xa4\d+\xff"
    assert re.search(rb"\r\nEntry = " + entry + rb"\r\n\Z", saved), "rows: %r" % saved
    place = re.search(rb"Window X Position = (-?\d+)\r\nWindow Y Position = (-?\d+)\r\n", saved)
    assert place, "no place: %r" % saved
    x, y = int(place.group(1)), int(place.group(2))
    assert 0 <= x < 1280 - 500 and 0 <= y < 800 - 100, "the window opened at %d,%d" % (x, y)
    print("the ending session saved; the window opened at %d,%d" % (x, y))


if __name__ == "__main__":
    main()
