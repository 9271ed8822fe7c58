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

    def wait_for_handler(self, proc, signum, timeout=30.0):
        """Waits until the program has installed its handler for `signum`
        (the SigCgt mask of /proc/PID/status): a signal sent before that,
        while the loader or the sanitizer's start-up is still running, ends
        the process the default way before it has created anything, and says
        nothing about the program's own handling."""
        status = f"/proc/{proc.pid}/status"
        if not os.path.exists(status):
            return
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and proc.poll() is None:
            try:
                with open(status) as f:
                    for row in f:
                        if row.startswith("SigCgt:") and int(row.split()[1], 16) >> (signum - 1) & 1:
                            return
            except OSError:
                return
            time.sleep(0.001)

    def reap(self, proc):
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        for name in shm_files(proc.pid):
            if os.path.exists(name):
                os.unlink(name)


class StopSignalTest(SignalTestCase):
    def test_stop_signals_at_random_points_leave_the_input_as_it_was(self):
        path = self.path("big.txt")
        line = "Ordana stop signal test line, converted until the signal comes.\n"
        block = (line * (65536 // len(line))).encode("utf-16-be")
        with open(path, "wb") as f:
            written = 0
            while written < BIG_UNITS * 2:
                f.write(block)
                written += len(block)
        os.chmod(path, 0o640)
        original = digest(path)
        # What a whole conversion leaves: the byte order mark and every unit
        # swapped.
        whole = hashlib.sha256(b"\xff\xfe")
        swapped = block.decode("utf-16-be").encode("utf-16-le")
        for _ in range(written // len(block)):
            whole.update(swapped)
        whole = whole.hexdigest()
        rng = random.Random()
        stopped = 0
        for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            # From before the temporary exists to deep into the conversion
            # (and, on a fast machine, past its end).
            delay = rng.uniform(0.0, 0.3)
            with self.subTest(signal=signum.name, delay=round(delay, 3)):
                proc = self.start(["big.txt"] + CONVERT)
                self.wait_for_handler(proc, signum)
                time.sleep(delay)
                proc.send_signal(signum)
                code = proc.wait(timeout=60)
                if code == 0:
                    # Finished before the signal: the conversion is whole.
                    self.assertEqual(digest(path), whole)
                    return
                stopped += 1
                self.assertEqual(code, 128 + signum)
                # Stopped before the converted text took the input's place,
                # or just after: never anything in between.
                now = digest(path)
                self.assertIn(now, (original, whole))
                info = os.lstat(path)
                self.assertTrue(stat.S_ISREG(info.st_mode))
                self.assertEqual(stat.S_IMODE(info.st_mode), 0o640)
                self.assertNothingLeft(proc.pid)
                if now == whole:
                    return
        self.assertEqual(stopped, 3)

    def test_a_signal_while_the_temporary_grows(self):
        # The temporary file is there and has converted text in it: the
        # signal must remove it.
        self.write("a.txt", source("x" * (8 << 20)))
        for signum in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=signum.name):
                read_end, write_end = os.pipe()
                # The converter's messages (a trace line per filter and chunk)
                # go into a one-page pipe nobody reads, nearly full already:
                # after a few chunks of converted text it stays where it is.
                fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, 4096)
                os.write(write_end, b"#" * 3000)
                proc = self.start(["a.txt", "/loglevel=5"] + CONVERT, stderr=write_end)
                os.close(write_end)
                deadline = time.monotonic() + 30
                grown = False
                while time.monotonic() < deadline and not grown:
                    for name in os.listdir(self.dir):
                        if name.lower().startswith("odn") and os.path.getsize(self.path(name)):
                            grown = True
                    time.sleep(0.01)
                proc.send_signal(signum)
                code = proc.wait(timeout=30)
                os.close(read_end)
                self.assertTrue(grown, "the temporary never grew")
                self.assertEqual(code, 128 + signum)
                self.assertEqual(self.read("a.txt"), source("x" * (8 << 20)))
                self.assertNothingLeft(proc.pid)


class ClosedPipeTest(SignalTestCase):
    def test_a_message_reader_that_goes_away_never_stops_the_run(self):
        names = ["f%02d.txt" % k for k in range(30)]
        for name in names:
            self.write(name, source(name))
        proc = self.start(["*.txt", "/y"] + CONVERT, stderr=subprocess.PIPE)
        first = proc.stderr.read(1)
        proc.stderr.close()  # the reader goes away, as `head -c1` does
        code = proc.wait(timeout=60)
        self.assertEqual(first, b"C")  # "Character set: ..."
        self.assertEqual(code, 0)
        for name in names:
            self.assertEqual(self.read(name), converted(name))
        self.assertNothingLeft(proc.pid)

    def test_a_closed_data_pipe_ends_the_run_with_exit_code_4(self):
        data = source("data " * (2 << 20))
        self.write("a.txt", data)
        self.write("b.txt", source("second"))
        for args in (["a.txt", "/dev/stdout"], ["*.txt", "\\\\.\\CONOUT$", "/y"],
                     ["a.txt", "/dev/fd/1", "/log=run.log"]):
            with self.subTest(args=args):
                proc = self.start(args + CONVERT, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                self.assertEqual(proc.stdout.read(2), b"\xff\xfe")
                proc.stdout.close()  # the reader of the converted text goes away
                err = proc.stderr.read()
                proc.stderr.close()
                code = proc.wait(timeout=60)
                self.assertEqual(code, 4)
                message = "nobody reads the converted text any more"
                if "/log=run.log" in args:
                    self.assertIn(message, self.read_log("run.log"))
                else:
                    self.assertIn(message, text(err))
                self.assertEqual(self.read("a.txt"), data)
                self.assertEqual(self.read("b.txt"), source("second"))
                self.assertNothingLeft(proc.pid)

    def test_head_in_a_shell_pipeline(self):
        for k in range(10):
            self.write("g%d.txt" % k, source("g%d" % k))
        command = "%s '*.txt' /y %s 2>&1 | head -c1; echo \" ${PIPESTATUS[0]}\"" % (
            " ".join(PREFIX + [ORDANA]), " ".join(CONVERT))
        out = subprocess.run(["bash", "-c", command], cwd=self.dir, stdout=subprocess.PIPE,
                             timeout=60).stdout
        self.assertEqual(text(out), "C 0\n")
        for k in range(10):
            self.assertEqual(self.read("g%d.txt" % k), converted("g%d" % k))


if __name__ == "__main__":
    unittest.main()
