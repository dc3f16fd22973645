#!/usr/bin/python3
"""Runs the real tavimor binary on an X display, driven with synthetic input,
in one of three scenarios:

tick-in-message-box  A link check that finishes its link while the About box
    is open. Hours pass at once: the program's clocks jump (JumpingClock), and
    the mouse moving over the box wakes it to see that. The link must be
    fetched exactly once, and the finished row saved, with no input after the
    box has closed.
keys-at-start        The first key pressed in a freshly started window reaches
    no control: a Down arrow selects no row (a selection saves the settings,
    replacing Tavimor.ini, so its inode changes). Tab goes to the link field
    and, past the disabled Add, to the list, where Down selects a row; seven
    more Tabs go along the bottom row and back to the field, where a typed
    link and Return add a row, as Add does.
notice-per-arrival   Two links finish at the same hourly tick, with clocks that
    jump as above, and a stand-in notification server on a session bus of the
    test's own: each arrival raises exactly one notification naming its file
    and link, and none comes later.
stop-during-transfer A click on Stop! while a slow download runs asks its
    question at once; Yes ends the transfer within a second and stops the
    queue.
restart-and-offline  A restart with a monthly row last tried forty days ago,
    an hourly row tried just now, and a link whose host is not found: Start!
    checks the overdue rows at once and the fresh one only after its hour,
    and the link without a host is tried again ten minutes later.

Usage: drive_ticks_and_keys.py <path to tavimor> <scenario> [<path to notification_standin>]
(DISPLAY must name a running X server)
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from Xlib import XK  # noqa: E402
from x_desktop import Desktop, answer_yes, box_over, press_default, wait_for  # noqa: E402
from tavimor_files import STAMP, TITLE, read, settings_file, stamp, write  # noqa: E402
from counting_http_server import CountingServer, first_line  # noqa: E402
from jumping_clock import JumpingClock  # noqa: E402

# Past an hourly check and its few random seconds.
HOUR_AND_A_BIT = 3600 + 10


class NotificationServer:
    """The stand-in notification server on a dbus-daemon of its own; notices
    holds the Notify lines it has printed."""

    def __init__(self, standin):
        config = os.path.join(HERE, "..", "gui", "private_bus.conf")
        self.bus = subprocess.Popen(
            ["dbus-daemon", "--nofork", "--print-address=1", "--config-file=" + config],
            stdout=subprocess.PIPE, text=True)
        self.address = first_line(self.bus, "dbus-daemon").strip()
        try:
            self.server = subprocess.Popen(
                [standin], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address))
            ready = first_line(self.server, "the stand-in server").strip()
            assert ready == "ready", "no stand-in server"
        except BaseException:
            self.bus.terminate()
            raise
        self.notices = []
        threading.Thread(target=self._collect, daemon=True).start()

    def _collect(self):
        for line in self.server.stdout:
            if line.startswith("notify "):
                self.notices.append(line.split(" ", 2)[2].strip())

    def stop(self):
        self.server.kill()
        self.server.wait()
        self.bus.terminate()  # a killed bus would leave its socket behind
        self.bus.wait()


def until_woken(desktop, window, what, test, timeout=30):
    """test()'s first true value, the mouse moving over window meanwhile so that
    the program looks at its clocks."""
    def woken():
        desktop.hover(window, 250, 60)
        return test()
    return wait_for(what, woken, timeout=timeout, step=0.05)


def run_program(work, env, drive):
    """Starts the copy in work, hands its window to drive, and returns the exit code."""
    program = subprocess.Popen([os.path.join(work, "tavimor")], cwd=work, env=env)
    try:
        desktop = Desktop()
        window = wait_for("the window", lambda: desktop.window_titled(TITLE), timeout=20,
                          step=0.05)
        time.sleep(0.5)
        drive(desktop, window)
        desktop.close(window)
        answer_yes(desktop, window)
        return program.wait(timeout=20)
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()


def tick_in_message_box(work):
    downloads = os.path.join(work, "downloads") + "/"
    os.mkdir(downloads)
    body = b"abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ\n" * 400
    body_path = os.path.join(work, "body")
    write(body_path, body)
    server = CountingServer(body_path)
    try:
        link = b"http://127.0.0.1:%d/arrived.bin" % server.port
        settings = os.path.join(work, "Tavimor.ini")
        write(settings, settings_file(downloads, [
            [link, b"1 hour", b"Idle", stamp(), b"0"]]))
        done_row = re.compile(rb"Entry = " + re.escape(link) + rb"\xa41 hour\xa4DONE!\xa4" +
                              STAMP + rb"\xa41\xa4\d+\xff\r\n\Z")
        arrived = os.path.join(downloads, "arrived.bin")

        def drive(desktop, window):
            desktop.click(window, 530, 130)     # Start!
            answer_yes(desktop, window)
            desktop.click(window, 175, 130)     # About TVX: the timers are armed by now
            box_over(desktop, window)
            # The hourly tick comes while the box is open, and the check finishes the link.
            clock.jump(HOUR_AND_A_BIT)
            until_woken(desktop, window, "the first GET", lambda: server.gets)
            wait_for("the download", lambda: os.path.isfile(arrived) and read(arrived) == body,
                     timeout=15)
            time.sleep(0.5)
            assert desktop.others(window), "the About box closed by itself"
            press_default(desktop, window)
            wait_for("the finished row saved without further input",
                     lambda: done_row.search(read(settings)), timeout=5)
            # Past the next tick that a running timer would give (at most 1 hour 4 s on).
            clock.jump(2 * HOUR_AND_A_BIT)
            for _ in range(3):
                desktop.hover(window, 250, 60)
            assert len(server.gets) == 1, "the finished link was fetched %d times" % len(
                server.gets)

        clock = JumpingClock(work)
        code = run_program(work, clock.environment(os.environ), drive)
    finally:
        server.stop()
    assert code == 0, "exit code %d" % code
    assert done_row.search(read(settings)), "unexpected settings file: %r" % read(settings)


def notice_per_arrival(work, standin):
    downloads = os.path.join(work, "downloads") + "/"
    os.mkdir(downloads)
    body_path = os.path.join(work, "body")
    write(body_path, b"0123456789abcdef\n" * 400)
    notifications = NotificationServer(standin)
    server = None
    try:
        server = CountingServer(body_path)
        links = [b"http://127.0.0.1:%d/%s" % (server.port, name)
                 for name in (b"first.bin", b"second.bin")]
        write(os.path.join(work, "Tavimor.ini"), settings_file(downloads, [
            [link, b"1 hour", b"Idle", stamp(), b"0"] for link in links]))
        expected = sorted("Tavimor|tavimor|File arrived: %s|Downloaded from %s|"
                          "default,Open,open,Open|transfer.complete|io.github.tavimor.Tavimor"
                          % (link.decode().rsplit("/", 1)[1], link.decode()) for link in links)

        def drive(desktop, window):
            desktop.click(window, 530, 130)     # Start!
            answer_yes(desktop, window)
            desktop.click(window, 175, 130)     # About TVX: the timers are armed by now
            box_over(desktop, window)
            press_default(desktop, window)
            clock.jump(HOUR_AND_A_BIT)
            until_woken(desktop, window, "both GETs", lambda: len(server.gets) == 2)
            wait_for("two notifications", lambda: len(notifications.notices) >= 2, timeout=15)
            # Past the next tick that a running timer would give.
            clock.jump(2 * HOUR_AND_A_BIT)
            for _ in range(3):
                desktop.hover(window, 250, 60)
            assert sorted(notifications.notices) == expected, (
                "notifications: %r" % notifications.notices)

        clock = JumpingClock(work)
        env = dict(clock.environment(os.environ),
                   DBUS_SESSION_BUS_ADDRESS=notifications.address)
        code = run_program(work, env, drive)
    finally:
        if server:
            server.stop()
        notifications.stop()
    assert code == 0, "exit code %d" % code


def stop_during_transfer(work):
    downloads = os.path.join(work, "downloads") + "/"
    os.mkdir(downloads)
    body_path = os.path.join(work, "body")
    write(body_path, b"a slow file\n" * 100000)  # 1.2 MB at 50 KB a second
    server = CountingServer(body_path, speed=50000)
    try:
        link = b"http://127.0.0.1:%d/slow.bin" % server.port
        write(os.path.join(work, "Tavimor.ini"), settings_file(downloads, [
            [link, b"1 hour", b"Idle", stamp(), b"0"]]))

        def drive(desktop, window):
            desktop.click(window, 530, 130)     # Start!
            answer_yes(desktop, window)
            clock.jump(HOUR_AND_A_BIT)
            until_woken(desktop, window, "the GET", lambda: server.gets)
            time.sleep(1)
            desktop.click(window, 530, 130)     # Stop, during the transfer
            wait_for("the stop question", lambda: desktop.others(window), timeout=5)
            answer_yes(desktop, window)
            wait_for("the transfer ended", lambda: server.cuts == 1, timeout=2)
            assert not os.path.exists(os.path.join(downloads, "slow.bin")), "a cut file saved"

        clock = JumpingClock(work)
        code = run_program(work, clock.environment(os.environ), drive)
    finally:
        server.stop()
    assert code == 0, "exit code %d" % code


def keys_at_start(work):
    settings = os.path.join(work, "Tavimor.ini")
    write(settings, settings_file(work + "/", [
        [b"http://127.0.0.1:9/first.zip", b"1 hour", b"Idle", b"01 Jan 2020@00:00", b"0"],
        [b"http://127.0.0.1:9/second.zip", b"1 day", b"Idle", b"01 Jan 2020@00:00", b"0"]]))
    restored = os.stat(settings).st_ino

    def drive(desktop, window):
        desktop.focus(window)
        time.sleep(0.3)
        desktop.key(XK.XK_Down)
        time.sleep(1.0)
        assert os.stat(settings).st_ino == restored, (
            "the first Down arrow at start selected a row (the settings were saved)")
        desktop.key(XK.XK_Tab)
        desktop.key(XK.XK_Tab)
        desktop.key(XK.XK_Down)
        wait_for("a row selected after two Tabs and Down",
                 lambda: os.stat(settings).st_ino != restored, timeout=5)
        # Delete, Delete All, Open, About, the intervals and Start!, then the field.
        for _ in range(7):
            desktop.key(XK.XK_Tab)
        desktop.type("http://127.0.0.1:9/third.zip")
        desktop.key(XK.XK_Return)
        wait_for("the link added by Return saved",
                 lambda: b"http://127.0.0.1:9/third.zip\xa41 hour\xa4Idle" in read(settings),
                 timeout=5)

    code = run_program(work, dict(os.environ), drive)
    assert code == 0, "exit code %d" % code


def restart_and_offline(work):
    downloads = os.path.join(work, "downloads") + "/"
    os.mkdir(downloads)
    body_path = os.path.join(work, "body")
    write(body_path, b"0123456789abcdef\n" * 400)
    server = CountingServer(body_path)
    try:
        settings = os.path.join(work, "Tavimor.ini")
        write(settings, settings_file(downloads, [
            [b"http://127.0.0.1:%d/overdue.bin" % server.port, b"1 month", b"Idle",
             stamp(40 * 24 * 3600), b"0"],
            [b"http://127.0.0.1:%d/fresh.bin" % server.port, b"1 hour", b"Idle", stamp(), b"0"],
            [b"http://nowhere.invalid/offline.bin", b"1 day", b"Idle", stamp(2 * 24 * 3600),
             b"0"]]))
        offline_tries = re.compile(rb"nowhere\.invalid/offline\.bin\xa41 day\xa4\w+\xa4" + STAMP +
                                   rb"\xa4(\d+)\xa4")

        def tries():
            found = offline_tries.search(read(settings))
            return int(found.group(1)) if found else -1

        def drive(desktop, window):
            desktop.click(window, 530, 130)     # Start!
            answer_yes(desktop, window)
            until_woken(desktop, window, "the overdue GET", lambda: server.gets, timeout=20)
            until_woken(desktop, window, "the first offline try", lambda: tries() == 1,
                        timeout=20)
            assert server.gets == ["/overdue.bin"], "GETs at the start: %r" % server.gets
            clock.jump(10 * 60 + 10)
            until_woken(desktop, window, "the retry ten minutes on", lambda: tries() == 2)
            assert server.gets == ["/overdue.bin"], "GETs after ten minutes: %r" % server.gets
            clock.jump(HOUR_AND_A_BIT)
            until_woken(desktop, window, "the fresh row's GET an hour on",
                        lambda: "/fresh.bin" in server.gets)

        clock = JumpingClock(work)
        code = run_program(work, clock.environment(os.environ), drive)
    finally:
        server.stop()
    assert code == 0, "exit code %d" % code


SCENARIOS = {"tick-in-message-box": tick_in_message_box, "keys-at-start": keys_at_start,
             "notice-per-arrival": notice_per_arrival,
             "stop-during-transfer": stop_during_transfer,
             "restart-and-offline": restart_and_offline}


def main():
    binary = os.path.abspath(sys.argv[1])
    scenario = SCENARIOS[sys.argv[2]]
    work = tempfile.mkdtemp(prefix="tavimor-e2e-")
    try:
        shutil.copy(binary, os.path.join(work, "tavimor"))
        scenario(work, *sys.argv[3:])
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(sys.argv[2] + " passed")


if __name__ == "__main__":
    main()
