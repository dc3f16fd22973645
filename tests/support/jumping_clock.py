"""A clock for the programs under test that jumps: the clocks of every process
started with its environment (a Wine prefix's wineserver included) read their
offset from one file, so a jump is the night a laptop sleeps through, seen by
all of them at once. Time runs at its real speed between jumps, so start-up
waits and the fetch's time limits stay what they are on any machine. A program
that sleeps in a wait notices a jump at its next input (Desktop.hover).
Needs libfaketime (Debian package libfaketime).
"""
import glob
import os


class JumpingClock:
    def __init__(self, work):
        self.offset_file = os.path.join(work, "clock")
        self._set(b"+0")

    def _set(self, offset):
        with open(self.offset_file + ".new", "wb") as out:
            out.write(offset)
        os.replace(self.offset_file + ".new", self.offset_file)

    def environment(self, env):
        found = glob.glob("/usr/lib/*/faketime/libfaketimeMT.so.1")
        assert found, "libfaketime is missing (Debian package libfaketime)"
        env = dict(env, LD_PRELOAD=found[0], FAKETIME_TIMESTAMP_FILE=self.offset_file,
                   FAKETIME_NO_CACHE="1")
        env.pop("FAKETIME", None)
        # A sanitized build would refuse to start with a library preloaded before its runtime.
        env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"),
                                                     "verify_asan_link_order=0"]))
        return env

    def jump(self, seconds):
        """All clocks stand seconds later than they would (from the start)."""
        self._set(b"+%d" % seconds)
