#!/usr/bin/python3
"""Runs the real tavimor binary on an X display (no window manager) in one of
four scenarios about where its settings live, who may use them and when they
are saved:

one-per-settings-file  A second start on the same settings file exits with 0 at
    once, leaves the file alone and brings the first window to the front; a
    start on another settings file runs beside it; a first instance killed
    with SIGKILL does not keep the next start from showing its window.
read-only-program-dir  A program directory without write permission (as an
    installed program has) makes the program read and save its settings in
    $XDG_CONFIG_HOME/tavimor/, writing nothing beside the binary.
first-run-user-config  The same with no settings file yet: the program creates
    $XDG_CONFIG_HOME/tavimor/, asks for the download folder (cancelled here)
    and saves the user's download folder as the default.
saves-on-sigterm  SIGTERM (as a log-off or shutdown sends) saves the settings,
    over a file removed meanwhile, and ends the program with 0; the window,
    whose stored place lay off this display, had opened on it.

Usage: drive_instances.py <path to tavimor> <scenario>
(DISPLAY must name a running X server)
"""
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from Xlib import X, XK  # noqa: E402
from x_desktop import Desktop, answer_yes, wait_for  # noqa: E402
from tavimor_files import TITLE, read, settings_file, write  # noqa: E402

ROWS = [[b"http://127.0.0.1:9/kept.zip", b"2 hours", b"Idle", b"01 Jan 2020@00:00", b"3"],
        [b"http://127.0.0.1:9/finished.zip", b"1 hour", b"DONE!", b"02 Jan 2020@00:00", b"9"]]


def saved_after_quit(download_dir, place=rb"40\r\nWindow Y Position = 30"):
    """The settings file a quit saves after ROWS were restored: the finished row is gone.
    place is the pattern from the window's left edge to its top edge."""
    return re.compile(
        rb"; Tavimor \(TVX\)  - Do not manually edit this file, it may cause crashes and other "
        rb"twilight zone situations!\r\n\[Global\]\r\n"
        rb"Default Download Directory = " + re.escape(download_dir.encode()) + rb"\r\n"
        rb"Window X Position = " + place + rb"\r\nWindow Minimized = No\r\n"
        rb"\[Links\]\r\nEntry = "
        rb"http://127\.0\.0\.1:9/kept\.zip\xa42 hours\xa4Idle\xa401 Jan 2020@00:00\xa43\xa4\d+\xff"
        rb"\r\n\Z")


def footprint(path):
    """What any write to the file would change: its inode, bytes and modification time."""
    info = os.stat(path)
    return info.st_ino, info.st_mtime_ns, read(path)


def tree(directory):
    """Every name under directory with its size and modification time."""
    found = {}
    for root, dirs, files in os.walk(directory):
        for name in dirs + files:
            path = os.path.join(root, name)
            info = os.lstat(path)
            found[os.path.relpath(path, directory)] = (info.st_size, info.st_mtime_ns)
    return found


def windows_of(desktop, pid):
    """The viewable top-level windows of process pid (Qt sets _NET_WM_PID)."""
    atom = desktop.d.intern_atom("_NET_WM_PID")
    found = []
    for w, name in desktop.viewable():
        try:
            prop = w.get_full_property(atom, X.AnyPropertyType)
        except Exception:  # it went away while we looked
            continue
        if prop and prop.value and prop.value[0] == pid:
            found.append((w, name))
    return found


def main_window_of(desktop, program, timeout=20):
    return wait_for("the window of process %d" % program.pid,
                    lambda: next((w for w, name in windows_of(desktop, program.pid)
                                  if name == TITLE), None), timeout=timeout, step=0.05)


def stacking(desktop):
    """Ids of the root's children, bottom first."""
    return [w.id for w in desktop.root.query_tree().children]


def above(desktop, upper, lower):
    order = stacking(desktop)
    return order.index(upper.id) > order.index(lower.id)


def cover(desktop, window):
    """A window of our own, mapped exactly over window (the stack's top, with no window manager)."""
    geometry = window.get_geometry()
    at = window.translate_coords(desktop.root, 0, 0)
    mine = desktop.root.create_window(-at.x, -at.y, geometry.width, geometry.height, 0,
                                      desktop.d.screen().root_depth, X.InputOutput,
                                      X.CopyFromParent,
                                      background_pixel=desktop.d.screen().white_pixel)
    mine.set_wm_name("cover")
    mine.map()
    desktop.d.sync()
    wait_for("the cover window on top", lambda: above(desktop, mine, window), timeout=5)
    return mine


def start(work, env=None):
    return subprocess.Popen([os.path.join(work, "tavimor")], cwd=work, env=env)


def quit_with_yes(desktop, program, window):
    desktop.close(window)
    answer_yes(desktop, window)
    code = program.wait(timeout=20)
    assert code == 0, "exit code %d on quit" % code


def stop(*programs):
    for program in programs:
        if program is not None and program.poll() is None:
            program.kill()
            program.wait()


def one_per_settings_file(work):
    settings = os.path.join(work, "Tavimor.ini")
    write(settings, settings_file(work + "/", ROWS))
    before = footprint(settings)
    desktop = Desktop()
    first = second = other = again = None
    try:
        first = start(work)
        window = main_window_of(desktop, first)
        time.sleep(0.5)
        mine = cover(desktop, window)

        second = start(work)
        started = time.monotonic()
        code = second.wait(timeout=10)
        assert code == 0, "the second start on the same settings file exited with %d" % code
        print("second start exited after %.2f s" % (time.monotonic() - started))
        wait_for("the first window brought in front of the cover",
                 lambda: above(desktop, window, mine), timeout=5, step=0.05)
        assert first.poll() is None, "the first instance ended"
        time.sleep(0.5)
        assert footprint(settings) == before, "the settings file was written"
        mine.destroy()
        desktop.d.sync()

        # Another settings file (another directory) is another instance.
        elsewhere = os.path.join(work, "elsewhere")
        os.mkdir(elsewhere)
        shutil.copy(os.path.join(work, "tavimor"), elsewhere)
        write(os.path.join(elsewhere, "Tavimor.ini"), settings_file(elsewhere + "/", ROWS))
        other = start(elsewhere)
        main_window_of(desktop, other)
        time.sleep(1.0)
        assert other.poll() is None, "a start on another settings file exited with %d" % (
            other.returncode)
        stop(other)
        assert first.poll() is None, "the first instance ended"
        assert footprint(settings) == before, "the settings file was written"

        # A killed first instance leaves no claim behind.
        first.send_signal(signal.SIGKILL)
        assert first.wait(timeout=10) == -signal.SIGKILL
        wait_for("the killed window to go", lambda: not desktop.window_titled(TITLE), timeout=5)
        again = start(work)
        window = main_window_of(desktop, again)
        time.sleep(1.0)
        assert again.poll() is None, "the start after a killed instance exited with %d" % (
            again.returncode)
        quit_with_yes(desktop, again, window)
    finally:
        stop(first, second, other, again)
    assert saved_after_quit(work + "/").match(read(settings)), (
        "unexpected settings file: %r" % read(settings))


def read_only_program_dir(work):
    program_dir = os.path.join(work, "program")
    config = os.path.join(work, "config")
    os.makedirs(os.path.join(config, "tavimor"))
    os.mkdir(program_dir)
    shutil.copy(os.path.join(work, "tavimor"), program_dir)
    settings = os.path.join(config, "tavimor", "Tavimor.ini")
    downloads = os.path.join(work, "downloads") + "/"
    write(settings, settings_file(downloads, ROWS))
    restored = os.stat(settings).st_ino
    os.chmod(program_dir, 0o555)
    listing = tree(program_dir)
    env = dict(os.environ, XDG_CONFIG_HOME=config)
    desktop = Desktop()
    # The program's working directory is its own: a settings file that went
    # there by mistake would show in the listing (root may write anywhere).
    program = start(program_dir, env)
    try:
        window = main_window_of(desktop, program)
        time.sleep(0.5)
        quit_with_yes(desktop, program, window)
    finally:
        stop(program)
        os.chmod(program_dir, 0o755)
    assert tree(program_dir) == listing, "the program directory changed: %r" % tree(program_dir)
    assert os.stat(settings).st_ino != restored, "the settings were not saved"
    assert saved_after_quit(downloads).match(read(settings)), (
        "unexpected settings file: %r" % read(settings))


def first_run_user_config(work):
    program_dir = os.path.join(work, "program")
    config = os.path.join(work, "config")
    home = os.path.join(work, "home")
    os.mkdir(program_dir)
    os.mkdir(home)
    shutil.copy(os.path.join(work, "tavimor"), program_dir)
    os.chmod(program_dir, 0o555)
    listing = tree(program_dir)
    env = dict(os.environ, XDG_CONFIG_HOME=config, HOME=home)
    desktop = Desktop()
    program = start(program_dir, env)
    try:
        # The folder chooser comes before the main window is shown.
        chooser = wait_for("the folder chooser",
                           lambda: next((w for w, _ in windows_of(desktop, program.pid)), None),
                           timeout=20, step=0.05)
        assert os.path.isdir(os.path.join(config, "tavimor")), "no tavimor/ in XDG_CONFIG_HOME"
        time.sleep(1.0)
        desktop.focus(chooser)
        time.sleep(0.3)
        desktop.key(XK.XK_Escape)
        window = main_window_of(desktop, program)
        time.sleep(0.5)
        quit_with_yes(desktop, program, window)
    finally:
        stop(program)
        os.chmod(program_dir, 0o755)
    assert tree(program_dir) == listing, "the program directory changed: %r" % tree(program_dir)
    assert stat.S_IMODE(os.stat(os.path.join(config, "tavimor")).st_mode) == 0o700
    saved = read(os.path.join(config, "tavimor", "Tavimor.ini"))
    expected = b"\r\nDefault Download Directory = " + home.encode() + b"/Downloads/\r\n"
    assert expected in saved, "unexpected settings file: %r" % saved


def saves_on_sigterm(work):
    settings = os.path.join(work, "Tavimor.ini")
    # Saved on a monitor this display does not have.
    stored = settings_file(work + "/", ROWS)
    write(settings, stored.replace(b"X Position = 40", b"X Position = 3000")
          .replace(b"Y Position = 30", b"Y Position = 2500"))
    desktop = Desktop()
    program = start(work)
    try:
        main_window_of(desktop, program)
        time.sleep(0.5)
        os.remove(settings)
        program.send_signal(signal.SIGTERM)
        code = program.wait(timeout=20)
        assert code == 0, "exit code %d on SIGTERM" % code
    finally:
        stop(program)
    assert os.path.exists(settings), "nothing was saved on SIGTERM"
    saved = saved_after_quit(work + "/", rb"(\d+)\r\nWindow Y Position = (\d+)").match(
        read(settings))
    assert saved, "unexpected settings file: %r" % read(settings)
    x, y = int(saved.group(1)), int(saved.group(2))
    assert x < 1280 - 500 and y < 800 - 100, "the window opened at %d,%d" % (x, y)


SCENARIOS = {"one-per-settings-file": one_per_settings_file,
             "saves-on-sigterm": saves_on_sigterm,
             "read-only-program-dir": read_only_program_dir,
             "first-run-user-config": first_run_user_config}


def main():
    binary = os.path.abspath(sys.argv[1])
    scenario = SCENARIOS[sys.argv[2]]
    work = tempfile.mkdtemp(prefix="tavimor-e2e-")
    try:
        shutil.copy(binary, os.path.join(work, "tavimor"))
        scenario(work)
    finally:
        for root, dirs, _ in os.walk(work):
            for name in dirs:
                os.chmod(os.path.join(root, name), 0o755)
        shutil.rmtree(work, ignore_errors=True)
    print(sys.argv[2] + " passed")


if __name__ == "__main__":
    main()
