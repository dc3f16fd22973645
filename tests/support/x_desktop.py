"""Synthetic user input on an X display without a window manager, shared by
the end-to-end test and the idle-cost benchmark: finding the program's
windows, clicks and keys through XTEST, and the close request a window
manager would send. Needs the system's python3 with Xlib (python3-xlib).
"""
import time

from Xlib import X, XK, display, protocol
from Xlib.ext import xtest


def wait_for(what, test, timeout=10.0, step=0.002):
    """test()'s first true value; a failure naming what when none comes in time."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = test()
        if value:
            return value
        time.sleep(step)
    raise AssertionError("timed out waiting for " + what)


class Desktop:
    def __init__(self):
        self.d = display.Display()
        self.root = self.d.screen().root

    def viewable(self):
        found = []
        for w in self.root.query_tree().children:
            try:
                if w.get_attributes().map_state == X.IsViewable:
                    found.append((w, w.get_wm_name() or ""))
            except Exception:  # it went away while we looked
                continue
        return found

    def window_titled(self, prefix):
        """The first viewable window whose title starts with prefix, or None."""
        for w, name in self.viewable():
            if name.startswith(prefix):
                return w
        return None

    def others(self, window):
        return [w for w, _ in self.viewable() if w.id != window.id]

    def click(self, window, x, y, count=1):
        t = window.translate_coords(self.root, 0, 0)
        xtest.fake_input(self.d, X.MotionNotify, x=-t.x + x, y=-t.y + y)
        self.d.sync()
        time.sleep(0.1)
        for _ in range(count):
            xtest.fake_input(self.d, X.ButtonPress, 1)
            xtest.fake_input(self.d, X.ButtonRelease, 1)
            self.d.sync()
            time.sleep(0.05)
        time.sleep(0.2)

    def hover(self, window, x, y):
        """The mouse moves a little way from (x, y) in window, as a user's
        input that wakes a program to look at its clocks."""
        t = window.translate_coords(self.root, 0, 0)
        for dx in range(0, 40, 4):
            xtest.fake_input(self.d, X.MotionNotify, x=-t.x + x + dx, y=-t.y + y)
            self.d.sync()
            time.sleep(0.05)

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

    def focus(self, window):
        # What a window manager does when the user activates the window.
        window.set_input_focus(X.RevertToParent, X.CurrentTime)
        self.d.sync()

    def close(self, window):
        # What a window manager sends when the user clicks the close box.
        protocols = self.d.intern_atom("WM_PROTOCOLS")
        delete = self.d.intern_atom("WM_DELETE_WINDOW")
        event = protocol.event.ClientMessage(window=window, client_type=protocols,
                                             data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        window.send_event(event)
        self.d.sync()


def box_over(desktop, window):
    """The message box the program shows over window, once it is there."""
    return wait_for("a message box", lambda: desktop.others(window), step=0.02)


def press_default(desktop, window):
    """Return on the open message box, then wait until it has gone."""
    desktop.key(XK.XK_Return)
    wait_for("the message box to close", lambda: not desktop.others(window), step=0.02)


def answer_yes(desktop, window):
    """Return on the question the program asks over window (its default button is Yes)."""
    box = box_over(desktop, window)
    time.sleep(0.5)
    press_default(desktop, window)
    return box
