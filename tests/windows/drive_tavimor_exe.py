#!/usr/bin/python3
"""Runs Tavimor.exe under Wine on an X display with a window manager (Wine's
windows take keys only once activated), and drives it with synthetic input the
way a user would: it restores a prepared settings file, gets a link typed and
added, starts the queue, fetches it and a restored https link (its test CA
trusted in the test's own Wine prefix) from loopback servers at the first
hourly check (the clocks jump an hour on), sees a link whose host is not found
tried again ten minutes after the start, then, a week on, is told to stop
while a weekly link's slow download runs, and is asked to close. Then the
downloads, the exit code and the bytes of the settings file are checked.

Usage: drive_tavimor_exe.py <Tavimor.exe> <scripts/wine-run> <trust_ca.exe>
(DISPLAY must name a running X server without a window manager)
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
from Xlib import X, XK, protocol  # noqa: E402
from Xlib.ext import xtest  # noqa: E402
from x_desktop import Desktop, wait_for  # noqa: E402
from tavimor_files import STAMP, TITLE, read, settings_file, stamp, write  # noqa: E402
from counting_http_server import CountingServer, first_line  # noqa: E402
from jumping_clock import JumpingClock  # noqa: E402

class ManagedDesktop(Desktop):
    """The desktop under a window manager, which puts each client in a frame."""

    def clients(self):
        found = []
        pending = list(self.root.query_tree().children)
        while pending:
            w = pending.pop()
            try:
                if w.get_attributes().map_state != X.IsViewable:
                    continue
                name = w.get_wm_name()
                if name:
                    found.append((w, name))
                else:
                    pending.extend(w.query_tree().children)
            except Exception:  # it went away while we looked
                continue
        return found

    def client_titled(self, title):
        return next((w for w, name in self.clients() if name == title), None)

    def activate(self, window):
        # What a pager or a click on the task bar asks of the window manager.
        atom = self.d.intern_atom("_NET_ACTIVE_WINDOW")
        event = protocol.event.ClientMessage(window=window, client_type=atom,
                                             data=(32, [2, X.CurrentTime, 0, 0, 0]))
        self.root.send_event(event, event_mask=X.SubstructureRedirectMask |
                             X.SubstructureNotifyMask)
        self.d.sync()
        time.sleep(0.3)

    def pixels(self, window, x, y, width, height):
        return window.get_image(x, y, width, height, X.ZPixmap, 0xFFFFFFFF).data

    def answer(self, title, keysym=XK.XK_Return):
        """Activates the message box titled title and presses keysym on its default button."""
        box = wait_for("the box " + title, lambda: self.client_titled(title), timeout=20,
                       step=0.05)
        time.sleep(0.5)
        self.activate(box)
        self.key(keysym)
        wait_for("the box " + title + " to close", lambda: not self.client_titled(title),
                 timeout=10, step=0.05)


def wine_path(path):
    # Wine shows the whole Linux file system as drive Z:.
    return "Z:" + path.replace("/", "\\")


def main():
    exe, wine_run, trust_ca = (os.path.abspath(a) for a in sys.argv[1:4])
    work = tempfile.mkdtemp(prefix="tavimor-exe-")
    wm = subprocess.Popen(["openbox", "--sm-disable"], stderr=subprocess.DEVNULL)
    try:
        run(exe, wine_run, trust_ca, work)
    finally:
        wm.terminate()
        wm.wait()
        shutil.rmtree(work, ignore_errors=True)


class HttpsServer:
    """tests/support/tls_server.py serving directory with a certificate for
    localhost from a test CA of its own (certs/ca.pem)."""

    def __init__(self, work, directory):
        script = os.path.join(HERE, "..", "support", "tls_server.py")
        certs = os.path.join(work, "certs")
        os.mkdir(certs)
        os.mkdir(os.path.join(work, "tls-log"))
        subprocess.run([sys.executable, script, "make-certs", certs], check=True)
        self.ca = os.path.join(certs, "ca.pem")
        self.process = subprocess.Popen(
            [sys.executable, script, "serve", "--log-dir", os.path.join(work, "tls-log"),
             "--cert", os.path.join(certs, "good.pem"), "--key", os.path.join(certs, "server.key"),
             "--directory", directory], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.port = int(first_line(self.process, "the https server").split()[0])

    def stop(self):
        self.process.stdin.close()  # it serves until its standard input ends
        self.process.wait(timeout=10)


# The middle of the Start button, inside its focus rectangle: only its caption
# is drawn there.
START_CAPTION = (516, 125, 28, 10)


def drive(desktop, program, clock, link, settings, slow):
    """Adds link, starts the queue, lets an hour pass until both links have been
    saved as arrived, then a week, stops the queue while the weekly link's slow
    download runs, and quits; the program's exit code."""
    window = wait_for("the window", lambda: desktop.client_titled(TITLE), timeout=60, step=0.1)
    time.sleep(1)
    desktop.click(window, 250, 10)  # into the link field, which activates the window
    desktop.type(link)
    desktop.click(window, 530, 10)  # Add
    start_caption = desktop.pixels(window, *START_CAPTION)
    desktop.click(window, 530, 130)  # Start!
    desktop.answer("Just one more thing....")
    # The hour has to pass after the timers are armed, which a busy machine
    # may do well after the question has gone: the clock jumps once the button
    # says "Stop", and the rows due at once have been checked.
    wait_for("the queue to start", lambda: desktop.pixels(window, *START_CAPTION) != start_caption,
             timeout=30, step=0.1)

    def saved(done, offline_tries):
        def check():
            desktop.hover(window, 300, 80)  # input wakes Wine to look at its clock
            text = read(settings)
            return text.count(b"\xa4DONE!\xa4") == done and re.search(
                rb"nowhere\.invalid/offline\.bin\xa41 day\xa4\w+\xa4" + STAMP + rb"\xa4%d\xa4" %
                offline_tries, text)
        return check

    # The rows last tried in 2020 are checked at once: the https link arrives,
    # and the link without a host fails.
    wait_for("the overdue rows checked", saved(1, 1), timeout=60, step=0.5)
    clock.jump(3600 + 10)  # past the first hourly check and its few random seconds
    # The hourly link arrives, and the link without a host has been tried again
    # ten minutes after its first try.
    wait_for("an hour on", saved(2, 2), timeout=90, step=0.5)
    clock.jump(7 * 24 * 3600)

    def asked():
        desktop.hover(window, 300, 80)
        return slow.gets

    wait_for("the weekly GET", asked, timeout=60, step=0.5)
    time.sleep(1)
    desktop.click(window, 530, 130)  # Stop, during the transfer
    wait_for("the stop question", lambda: desktop.client_titled("Question"), timeout=5,
             step=0.1)
    desktop.answer("Question")  # Yes
    wait_for("the transfer ended", lambda: slow.cuts == 1, timeout=5)
    desktop.activate(window)
    desktop.close(window)
    desktop.answer("Quit now, then?")
    return program.wait(timeout=30)


def run(exe, wine_run, trust_ca, work):
    program_dir = os.path.join(work, "program")
    downloads = os.path.join(work, "downloads")
    os.mkdir(program_dir)
    os.mkdir(downloads)
    shutil.copy(exe, os.path.join(program_dir, "Tavimor.exe"))
    # A prefix of the test's own: its wineserver must start on the fake clock.
    clock = JumpingClock(work)
    env = clock.environment(dict(os.environ, WINEPREFIX=os.path.join(work, "prefix")))

    body = b"0123456789abcdef" * 1000  # a real file: more than 5000 bytes
    write(os.path.join(work, "body"), body)
    os.mkdir(os.path.join(work, "served"))
    write(os.path.join(work, "served", "secure.bin"), body[::-1])
    server = CountingServer(os.path.join(work, "body"))
    write(os.path.join(work, "slow"), b"a slow file\n" * 100000)  # 1.2 MB at 50 KB/s
    slow = CountingServer(os.path.join(work, "slow"), speed=50000)
    https = HttpsServer(work, os.path.join(work, "served"))
    subprocess.run([wine_run, trust_ca, wine_path(https.ca)], env=env, check=True)
    settings = os.path.join(program_dir, "Tavimor.ini")
    download_dir = wine_path(downloads) + "\\"
    link = b"http://127.0.0.1:%d/arrived.bin" % server.port
    weekly = b"http://127.0.0.1:%d/weekly.zip" % slow.port
    # Tried just now, so that it waits its week; the https row, tried long
    # ago, is checked as soon as the queue starts.
    kept = [weekly, b"1 week", b"Idle", stamp(), b"3"]
    finished = [b"http://127.0.0.1:9/done.zip", b"1 hour", b"DONE!", b"02 Jan 2020@00:00", b"9"]
    secure = [b"https://localhost:%d/secure.bin" % https.port, b"1 hour", b"Idle",
              b"03 Jan 2020@00:00", b"0"]
    offline = [b"http://nowhere.invalid/offline.bin", b"1 day", b"Idle", b"04 Jan 2020@00:00",
               b"0"]
    # finished is dropped
    write(settings, settings_file(download_dir, [kept, finished, secure, offline]))

    program = subprocess.Popen([wine_run, os.path.join(program_dir, "Tavimor.exe")],
                               cwd=program_dir, env=env)
    try:
        code = drive(ManagedDesktop(), program, clock, link.decode(), settings, slow)
    except BaseException:
        # What the program got to, for whoever reads the failure.
        print("settings file: %r" % read(settings), file=sys.stderr)
        print("GETs: %r, downloads: %r" % (server.gets, os.listdir(downloads)), file=sys.stderr)
        log = os.path.join(work, "tls-log")
        print("https server: %r" % {name: read(os.path.join(log, name))
                                    for name in os.listdir(log)}, file=sys.stderr)
        raise
    finally:
        server.stop()
        slow.stop()
        https.stop()
        if program.poll() is None:
            program.kill()
            program.wait()
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    assert code == 0, "exit code %d" % code
    assert server.gets == ["/arrived.bin"], "GETs: %r" % server.gets
    assert read(os.path.join(downloads, "arrived.bin")) == body, "the http download"
    assert read(os.path.join(downloads, "secure.bin")) == body[::-1], "the https download"
    assert not os.path.exists(os.path.join(downloads, "weekly.zip")), "a stopped download saved"

    saved = read(settings)
    expected = re.compile(
        rb"; Tavimor \(TVX\)  - Do not manually edit this file, it may cause crashes and other "
        rb"twilight zone situations!\r\n\[Global\]\r\n"
        rb"Default Download Directory = " + re.escape(download_dir.encode()) + rb"\r\n"
        rb"Window X Position = 40\r\nWindow Y Position = 30\r\nWindow Minimized = No\r\n"
        rb"\[Links\]\r\nEntry = "
        + re.escape(weekly) + rb"\xa41 week\xa4Idle\xa4" + STAMP + rb"\xa44\xa4(\d+)\xff" +
        re.escape(secure[0]) + rb"\xa41 hour\xa4DONE!\xa4" + STAMP + rb"\xa41\xa4(\d+)\xff" +
        re.escape(offline[0]) + rb"\xa41 day\xa4Idle\xa4" + STAMP + rb"\xa4[23]\xa4\d+\xff" +
        re.escape(link) + rb"\xa41 hour\xa4DONE!\xa4" + STAMP + rb"\xa41\xa4(\d+)\xff\r\n\Z")
    match = expected.match(saved)
    assert match, "unexpected settings file: %r" % saved
    assert match.group(1) == match.group(2) == match.group(3), "one save, one time"
    print("Tavimor.exe end-to-end run passed")


if __name__ == "__main__":
    main()
