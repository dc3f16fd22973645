#!/usr/bin/python3
"""Measures what the running program costs while it waits, for idle_cost.sh.

Starts the program five times (its settings file already prepared beside it)
to time its start-up to a mapped window, then once more and watches it for a
while in three phases: the queue stopped; the queue stopped with the text
caret in the link field (the caret blinks, which is the toolkit's doing); and
the queue started through real input (a click on "Start!" and Return on the
question). Finally it closes the program politely. For each phase it reports
the processor time and the context switches (wake-ups) of each thread, from
/proc, and the memory.

Usage: idle_probe.py <program> <directory to run it in> <seconds per phase>
(DISPLAY must name a running X server without a window manager.)
"""
import glob
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "support"))
from x_desktop import Desktop, answer_yes, wait_for  # noqa: E402

TITLE_PREFIX = "Tavimor"
START_BUTTON = (510 + 20, 120 + 10)  # the middle of "Start!" in client coordinates
LINK_FIELD = (250, 10)


def threads(pid):
    """Processor nanoseconds and context switches of each thread, by "tid name"."""
    found = {}
    for task in glob.glob("/proc/%d/task/*" % pid):
        try:
            with open(task + "/schedstat") as f:
                ns = int(f.read().split()[0])
            with open(task + "/status") as f:
                fields = dict(line.split(":", 1) for line in f if ":" in line)
            with open(task + "/comm") as f:
                name = f.read().strip()
        except OSError:  # the thread ended meanwhile
            continue
        n = int(fields["voluntary_ctxt_switches"]) + int(fields["nonvoluntary_ctxt_switches"])
        found[os.path.basename(task) + " " + name] = (ns, n)
    return found


def memory(pid):
    with open("/proc/%d/status" % pid) as f:
        fields = dict(line.split(":", 1) for line in f if ":" in line)
    return {k: fields[k].strip() for k in ("VmRSS", "VmHWM", "Threads")}


def ticks_time(pid):
    with open("/proc/%d/stat" % pid) as f:
        parts = f.read().rsplit(")", 1)[1].split()
    hz = os.sysconf("SC_CLK_TCK")
    return (int(parts[11]) + int(parts[12])) / hz  # utime + stime


def watch(pid, seconds, phase):
    before = threads(pid)
    t0 = ticks_time(pid)
    time.sleep(seconds)
    after = threads(pid)
    t1 = ticks_time(pid)
    # Only threads alive at both ends can be compared; one that ended woke at
    # least once to do so.
    common = sorted(set(before) & set(after))
    cpu_ns = sum(after[t][0] - before[t][0] for t in common)
    switches = sum(after[t][1] - before[t][1] for t in common)
    print("%s: %.0f s, cpu %.3f ms (utime+stime %.2f s), context switches %d (%.3f per s)"
          % (phase, seconds, cpu_ns / 1e6, t1 - t0, switches, switches / seconds))
    for name in common:
        if after[name][1] != before[name][1]:
            print("%s:   thread %s woke %d times, cpu %.3f ms"
                  % (phase, name, after[name][1] - before[name][1],
                     (after[name][0] - before[name][0]) / 1e6))
    for name in sorted(set(before) - set(after)):
        print("%s:   thread %s ended" % (phase, name))
    for name in sorted(set(after) - set(before)):
        print("%s:   thread %s started" % (phase, name))
    print("%s: memory %s" % (phase, ", ".join("%s %s" % kv for kv in memory(pid).items())))


def start(desktop, program, directory):
    """The running program, its window, and the time from exec to the window mapped."""
    started = time.monotonic()
    process = subprocess.Popen([program], cwd=directory)
    try:
        window = wait_for("the window", lambda: desktop.window_titled(TITLE_PREFIX))
    except BaseException:
        process.kill()
        process.wait()
        raise
    return process, window, (time.monotonic() - started) * 1000


def quit_politely(desktop, process, window):
    desktop.close(window)
    answer_yes(desktop, window)
    return process.wait(timeout=20)


def startup_times(desktop, program, directory, runs):
    times = []
    for _ in range(runs):
        process, window, ms = start(desktop, program, directory)
        time.sleep(0.5)
        if quit_politely(desktop, process, window) != 0:
            raise SystemExit("idle_probe: a start-up run did not end with code 0")
        times.append(ms)
    times.sort()
    print("start-up: %d runs from exec to the mapped window: best %.1f ms, median %.1f ms, "
          "worst %.1f ms" % (runs, times[0], times[len(times) // 2], times[-1]))


def main():
    program, directory, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    desktop = Desktop()
    startup_times(desktop, program, directory, 5)
    process, window, _ = start(desktop, program, directory)
    try:
        print("start-up: memory %s" % ", ".join("%s %s" % kv for kv in memory(process.pid).items()))
        print("start-up: threads %s" % ", ".join(sorted(threads(process.pid))))
        time.sleep(2)  # first paints, fonts and the like settle
        watch(process.pid, seconds, "stopped")

        desktop.focus(window)
        desktop.click(window, *LINK_FIELD)
        time.sleep(2)
        watch(process.pid, seconds, "stopped, caret in the link field")

        desktop.click(window, *START_BUTTON)
        answer_yes(desktop, window)
        time.sleep(2)
        watch(process.pid, seconds, "running")

        code = quit_politely(desktop, process, window)
        print("exit: code %d after the close request and Yes" % code)
        return 0 if code == 0 else 1
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


if __name__ == "__main__":
    sys.exit(main())
