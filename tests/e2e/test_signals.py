"""Stop signals and closed pipes: SIGINT, SIGTERM and SIGHUP remove the
temporary file and the status channel of the converter and leave the input as
it was; a reader of the messages that goes away never stops a run.

Every test checks the user's files (bytes, mode, type), that nothing is left
behind (no odn*.tmp, no /dev/shm names of the processes it started), and the
exit code and messages."""

import fcntl
import hashlib
import os
import random
import signal
import stat
import subprocess
import time
import unittest

from ordana_run import ORDANA, PREFIX, ScratchTestCase, posix_only, shm_files, text
from test_inputs import CONVERT, converted, source

# About 200 MB of UTF-16BE text: a conversion that runs for a while.
BIG_UNITS = 100 * 1024 * 1024


def digest(path):
    sha = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 22), b""):
            sha.update(block)
    return sha.hexdigest()


@posix_only("POSIX signals and /dev/shm")
class SignalTestCase(ScratchTestCase):
    def assertNothingLeft(self, pid):
        for name in shm_files(pid):
            self.assertFalse(os.path.exists(name), "left behind: " + name)
        leftovers = [n for n in os.listdir(self.dir) if n.lower().startswith("odn")
                     and n.lower().endswith(".tmp")]
        self.assertEqual(leftovers, [])

    def start(self, args, **kwargs):
        env = dict(os.environ)
        for name in ("LC_ALL", "LC_MESSAGES", "LANG"):
            env.pop(name, None)
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        proc = subprocess.Popen(PREFIX + [ORDANA] + list(args), cwd=self.dir, env=env, **kwargs)
        self.addCleanup(self.reap, proc)
        return proc

    def reap(self, proc):
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        for name in shm_files(proc.pid):
            if os.path.exists(name):
                os.unlink(name)


class ClosedPipeTest(SignalTestCase):
    def test_a_message_reader_that_goes_away_never_stops_the_run(self):
        names = ["f%02d.txt" % k for k in range(30)]
        for name in names:
            self.write(name, source(name))
        proc = self.start(["*.txt", "/y"] + CONVERT, stdout=subprocess.PIPE)
        first = proc.stdout.read(1)
        proc.stdout.close()  # the reader goes away, as `head -c1` does
        code = proc.wait(timeout=60)
        self.assertEqual(first, b"C")  # "Character set: ..."
        self.assertEqual(code, 0)
        for name in names:
            self.assertEqual(self.read(name), converted(name))
        self.assertNothingLeft(proc.pid)

    def test_head_in_a_shell_pipeline(self):
        for k in range(10):
            self.write("g%d.txt" % k, source("g%d" % k))
        command = "%s '*.txt' /y %s | head -c1; echo \" ${PIPESTATUS[0]}\"" % (
            " ".join(PREFIX + [ORDANA]), " ".join(CONVERT))
        out = subprocess.run(["bash", "-c", command], cwd=self.dir, stdout=subprocess.PIPE,
                             timeout=60).stdout
        self.assertEqual(text(out), "C 0\n")
        for k in range(10):
            self.assertEqual(self.read("g%d.txt" % k), converted("g%d" % k))


if __name__ == "__main__":
    unittest.main()
