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

from Xlib import X, XK, display, protocol
from Xlib.ext import xtest

TITLE = "Tavimor (TVX) v1.0 - 26 Nov 2011 by Brennick"
SEP, END = b"\xa4", b"\xff"


def settings_file(download_dir, rows):
    entry = b"".join(SEP.join(r + [b"0"]) + END for r in rows)
    return (b"; Tavimor (TVX)  - Do not manually edit this file\r\n[Global]\r\n"
            b"Default Download Directory = " + download_dir.encode() + b"\r\n"
            b"Window X Position = 40\r\nWindow Y Position = 30\r\n"
            b"Window Minimized = No\r\n[Links]\r\nEntry = " + entry + b"\r\n")


class Desktop:
    def __init__(self):
        self.d = display.Display()
        self.root = self.d.screen().root

    def find_window(self, title, timeout=20.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for w in self.root.query_tree().children:
                try:
                    name = w.get_wm_name()
                    attrs = w.get_attributes()
                except Exception:  # the window went away while we looked
                    continue
                if name == title and attrs.map_state == X.IsViewable:
                    return w
            time.sleep(0.05)
        raise AssertionError("no window titled %r" % title)

    def windows_other_than(self, window):
        found = []
        for w in self.root.query_tree().children:
            try:
                if w.id != window.id and w.get_attributes().map_state == X.IsViewable:
                    found.append(w)
            except Exception:
                pass
        return found

    def origin(self, window):
        t = window.translate_coords(self.root, 0, 0)
        return -t.x, -t.y

    def click(self, window, x, y, count=1):
        ox, oy = self.origin(window)
        xtest.fake_input(self.d, X.MotionNotify, x=ox + x, y=oy + y)
        self.d.sync()
        time.sleep(0.1)
        for _ in range(count):
            xtest.fake_input(self.d, X.ButtonPress, 1)
            xtest.fake_input(self.d, X.ButtonRelease, 1)
            self.d.sync()
            time.sleep(0.05)
        time.sleep(0.2)

    def key(self, keysym):
        code = self.d.keysym_to_keycode(keysym)
        shift = self.d.keycode_to_keysym(code, 0) != keysym
        shift_code = self.d.keysym_to_keycode(XK.XK_Shift_L)
        if shift:
            xtest.fake_input(self.d, X.KeyPress, shift_code)
        xtest.fake_input(self.d, X.KeyPress, code)
        xtest.fake_input(self.d, X.KeyRelease, code)
        if shift:
            xtest.fake_input(self.d, X.KeyRelease, shift_code)
        self.d.sync()
        time.sleep(0.02)

    def type(self, text):
        for ch in text:
            self.key(XK.string_to_keysym(ch) if ch.isalnum() else ord(ch))

    def close(self, window):
        # What a window manager sends when the user clicks the close box.
        protocols = self.d.intern_atom("WM_PROTOCOLS")
        delete = self.d.intern_atom("WM_DELETE_WINDOW")
        event = protocol.event.ClientMessage(window=window, client_type=protocols,
                                             data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        window.send_event(event)
        self.d.sync()


def answer_yes(desktop, main_window):
    # The question is a window of its own; its focused default button is Yes.
    deadline = time.monotonic() + 10
    while not desktop.windows_other_than(main_window):
        if time.monotonic() > deadline:
            raise AssertionError("no question was asked")
        time.sleep(0.05)
    time.sleep(0.5)
    desktop.key(XK.XK_Return)


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
        window = desktop.find_window(TITLE)
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
