#!/usr/bin/python3
"""Starts the installed program the way a desktop user's menu would, with a
settings file already in the user's configuration directory, and checks that
it shows its window from that file, quits when asked, and saves there.

Usage: run_installed.py <program> <download dir ending with />
(DISPLAY and XDG_CONFIG_HOME set; the settings file is made in
XDG_CONFIG_HOME/tavimor/)
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from x_desktop import Desktop, answer_yes, wait_for  # noqa: E402
from tavimor_files import TITLE  # noqa: E402

FIRST_LINE = b"; Tavimor (TVX)  - Do not manually edit this file"


def main():
    program, downloads = sys.argv[1], sys.argv[2]
    config = os.path.join(os.environ["XDG_CONFIG_HOME"], "tavimor")
    os.makedirs(config)
    settings = os.path.join(config, "Tavimor.ini")
    # The short first line is ours: the program writes the long one when it saves.
    with open(settings, "wb") as f:
        f.write(FIRST_LINE + b"\r\n[Global]\r\nDefault Download Directory = " +
                downloads.encode() + b"\r\nWindow X Position = 40\r\nWindow Y Position = 30\r\n"
                b"Window Minimized = No\r\n[Links]\r\nEntry = \r\n")

    # Started from the downloads folder, so that no working directory is the settings' home.
    running = subprocess.Popen([program], cwd=downloads)
    try:
        desktop = Desktop()
        window = wait_for("the window (a folder chooser instead means the settings file "
                          "under XDG_CONFIG_HOME was not read)",
                          lambda: desktop.window_titled(TITLE), timeout=20, step=0.05)
        desktop.close(window)
        answer_yes(desktop, window)
        code = running.wait(timeout=20)
    finally:
        if running.poll() is None:
            running.kill()
    assert code == 0, "exit code %d" % code
    with open(settings, "rb") as f:
        saved = f.read()
    assert saved.startswith(FIRST_LINE + b", it may cause"), "not saved there: %r" % saved
    print("installed program ran on its settings under XDG_CONFIG_HOME")


if __name__ == "__main__":
    main()
