"""The status channel, the CSV report and ordana-watch, seen from outside."""

import fcntl
import mmap
import os
import queue
import re
import select
import tempfile
import struct
import subprocess
import threading
import time
import unittest

from ordana_run import (EXE_SUFFIX, NL, ON_WINDOWS, ORDANA, PREFIX, ScratchTestCase, msg,
                        posix_only, shm_files, shown, text)

WATCH = os.environ.get("ORDANA_WATCH", os.path.join(os.path.dirname(ORDANA), "ordana-watch" + EXE_SUFFIX))

CHANNEL_SIZE = 296984
HEADER = struct.Struct("<6I")
RECORD = struct.Struct("<IQQQQIIIII520sI")
NO_RECORD = 0xFFFFFFFF
UTF8, UTF16 = 100, 101
COLLECTED = re.compile(r"^#(\d+) (.*): (\d+) bytes, (\S+) => (\S+), errors (\d+)/(\d+), (\d+) ms$")
READY = re.compile(r"/ssb (\d+)$")
# Far beyond any process id Linux hands out: an owner that never exists.
DEAD_OWNER = 0x40000000 + os.getpid()


def remove_channel(owner):
    for name in shm_files(owner):
        try:
            os.unlink(name)
        except FileNotFoundError:
            pass


class Channel:
    """A reader's mapping of a status channel, as another program would
    make it: by name, in /dev/shm, with the documented layout."""

    def __init__(self, owner, timeout=20):
        path = shm_files(owner)[0]
        deadline = time.monotonic() + timeout
        while True:
            try:
                with open(path, "rb") as f:
                    if os.fstat(f.fileno()).st_size >= CHANNEL_SIZE:
                        self.map = mmap.mmap(f.fileno(), CHANNEL_SIZE, access=mmap.ACCESS_READ)
                        return
            except FileNotFoundError:
                pass
            if time.monotonic() > deadline:
                raise AssertionError("no status channel " + path)
            time.sleep(0.002)

    def header(self):
        names = ("signature", "used_count", "capacity", "free_head", "used_head", "reserved")
        return dict(zip(names, HEADER.unpack_from(self.map, 0)))

    def record(self, index):
        fields = RECORD.unpack_from(self.map, HEADER.size + index * RECORD.size)
        names = ("link", "processed", "total", "start", "end", "state", "decoder_errors",
                 "decoder_charset", "encoder_errors", "encoder_charset", "path", "reserved")
        record = dict(zip(names, fields))
        units = record["path"].decode("utf-16-le", "surrogatepass")
        record["path"] = units.split("\0", 1)[0]
        return record

    def wait_for(self, index, condition, what, timeout=20):
        deadline = time.monotonic() + timeout
        while True:
            record = self.record(index)
            if condition(record):
                return record
            if time.monotonic() > deadline:
                raise AssertionError("record %d never %s: %r" % (index, what, record))
            time.sleep(0.001)

    def close(self):
        self.map.close()


def filetime_now():
    return int((time.time() + 11644473600) * 10000000)


class LineReader:
    """Reads a process's output lines in the background, so that a test can
    wait for one with a time limit."""

    def __init__(self, stream):
        self.lines = queue.Queue()
        self.thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self.thread.start()

    def _read(self, stream):
        for line in iter(stream.readline, b""):
            self.lines.put(text(line).rstrip("\r\n"))
        self.lines.put(None)

    def next(self, timeout=20):
        return self.lines.get(timeout=timeout)

    def rest(self, timeout=60):
        self.thread.join(timeout)
        lines = []
        while not self.lines.empty():
            line = self.lines.get()
            if line is not None:
                lines.append(line)
        return lines


class StatusTestCase(ScratchTestCase):
    def setUp(self):
        super().setUp()
        self.processes = []

    def tearDown(self):
        for proc in self.processes:
            if proc.poll() is None:
                # Asked to stop, a converter or watcher removes its channel
                # itself; one that does not answer is killed, and the names it
                # could not remove are removed here.
                proc.terminate()
                try:
                    proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
            if not ON_WINDOWS:
                remove_channel(proc.pid)
            for stream in (proc.stdout, proc.stderr):
                if stream:
                    stream.close()
        super().tearDown()

    def start(self, args, **kwargs):
        env = dict(os.environ)
        for name in ("LC_ALL", "LC_MESSAGES", "LANG"):
            env.pop(name, None)
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        kwargs.setdefault("stdout", subprocess.PIPE)
        kwargs.setdefault("stderr", subprocess.PIPE)
        proc = subprocess.Popen(PREFIX + args, cwd=self.dir, env=env, **kwargs)
        self.processes.append(proc)
        return proc

    def start_collector(self, *args):
        proc = self.start([WATCH, "--collect"] + list(args))
        lines = LineReader(proc.stdout)
        ready = READY.search(lines.next())
        self.assertIsNotNone(ready)
        self.assertEqual(int(ready.group(1)), proc.pid)
        return proc, lines

    def start_held(self, args):
        """Starts ordana with its messages going into a pipe of one page that
        is full but for room for the first message, the character set line.
        The converter then stops at the next message, the input path that a
        conversion prints right after setting state 0, until `release` is
        called. Returns (process, release).

        An output "/dev/fd/1" becomes a FIFO of one page that nobody reads
        until release(True): converted text never goes among the messages,
        so the text stops the converter there, in state 1."""
        held = fifo = None
        if "/dev/fd/1" in args:
            fifo = tempfile.mktemp(prefix="held", dir=self.dir)
            os.mkfifo(fifo)
            # Opened for reading and writing: the converter's open never
            # waits, and the FIFO never reports an end while we hold it.
            held = os.open(fifo, os.O_RDWR | os.O_NONBLOCK)
            self.addCleanup(os.close, held)
            fcntl.fcntl(held, fcntl.F_SETPIPE_SZ, 4096)
            args = [a if a != "/dev/fd/1" else fifo for a in args]
        probe = [a if a not in ("/dev/fd/1", fifo) else "probe.out" for a in args]
        probe[0] = "probe.txt"
        self.write("probe.txt", b"")
        code, out = self.run_ordana(*probe)
        self.assertEqual(code, 0)
        first_line = out.split(NL.encode())[0] + NL.encode()
        self.assertTrue(first_line.startswith(b"Character set: "))
        read_end, write_end = os.pipe()
        try:
            fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, 4096)
            if fcntl.fcntl(write_end, fcntl.F_GETPIPE_SZ) != 4096:
                os.close(read_end)
                self.skipTest("pipes cannot be made one page small here")
            os.write(write_end, b"#" * (4096 - len(first_line)))
            # The messages' stream: standard error on POSIX.
            messages = "stdout" if ON_WINDOWS else "stderr"
            proc = self.start([ORDANA] + list(args), **{messages: write_end})
        finally:
            os.close(write_end)
        pipe = os.fdopen(read_end, "rb", buffering=0)
        self.addCleanup(pipe.close)

        def drain_held():
            while True:
                try:
                    readable, _, _ = select.select([held], [], [], 0.1)
                    if readable:
                        os.read(held, 65536)
                    elif proc.poll() is not None:
                        return
                except BlockingIOError:
                    pass
                except (OSError, ValueError):
                    return  # the test is over and has closed it

        def release(all_of_it):
            """Drains the one page (the converter goes on to its next stop,
            if any) or, with all_of_it, everything in the background;
            returns what the converter wrote, or a function that returns it
            once the converter has ended."""
            if not all_of_it:
                drained = b""
                while len(drained) < 4096:
                    drained += pipe.read(4096 - len(drained))
                self.assertTrue(drained.endswith(first_line))
                return drained
            rest = []
            reader = threading.Thread(target=lambda: rest.append(pipe.read()), daemon=True)
            reader.start()
            if held is not None:
                threading.Thread(target=drain_held, daemon=True).start()

            def output():
                reader.join(60)
                return rest[0]
            return output
        return proc, release

    def collected(self, lines):
        records = []
        for line in lines:
            match = COLLECTED.match(line)
            self.assertIsNotNone(match, line)
            index, path, size, source, destination, dec, enc, ms = match.groups()
            records.append({"index": int(index), "path": path, "size": int(size),
                            "source": source, "destination": destination,
                            "errors": (int(dec), int(enc)), "ms": int(ms)})
        return records

    def converted_paths(self, out):
        """The input paths in the order the converter reports them."""
        return [line for line in text(out).split(NL) if line.startswith(shown(self.dir))]


# These look at the channel's POSIX objects in /dev/shm and name converters
# by their POSIX process ids; test_windows covers the Windows objects.
@posix_only("the channel's objects in /dev/shm")
class OwnChannelTest(StatusTestCase):
    """Without /ssb the converter publishes each conversion in record 0 of a
    channel named after its own process id."""

    CASES = [
        # (name, source, destination, input bytes, decoder errors, encoder errors)
        # A cut sequence is one error; an encoded surrogate is three (no
        # byte of it can continue the one before).
        ("utf-8 with two malformed sequences", "utf-8", "utf-16",
         b"abc" * 30000 + b"\xe2\x82x" + b"\xed\xa0\x80", UTF8, 4, UTF16, 0),
        ("utf-16 with a lone surrogate", "utf-16", "utf-8",
         "xyz".encode("utf-16-le") * 30000 + b"\x00\xd8a\x00", UTF16, 0, UTF8, 1),
    ]

    def test_record_zero_goes_through_opened_converting_done(self):
        # The converter's messages and its converted text go into one small
        # pipe that the test drains step by step (see start_held), so every
        # state is seen for certain, however fast or slow the machine: held
        # at the message after state 0, then at the output written in state 1.
        for name, source, destination, data, dec_id, dec_errors, enc_id, enc_errors in self.CASES:
            with self.subTest(name):
                self.write("in.txt", data)
                proc, release = self.start_held(["in.txt", "/dev/fd/1", "/i", source, "/o",
                                                 destination])
                channel = Channel(proc.pid)
                try:
                    opened = channel.wait_for(0, lambda r: r["path"] != "", "named")
                    before = filetime_now()
                    time.sleep(0.1)
                    self.assertEqual(channel.record(0), opened)  # held in state 0
                    self.assertEqual(opened["state"], 0)
                    self.assertEqual(opened["path"], self.path("in.txt"))
                    self.assertEqual(opened["total"], len(data))
                    self.assertEqual(opened["processed"], 0)
                    self.assertLess(abs(opened["start"] - before), 600000000)  # a minute
                    header = channel.header()
                    self.assertEqual((header["signature"], header["capacity"], header["free_head"],
                                      header["used_head"], header["used_count"]),
                                     (1, 512, 0, NO_RECORD, 0))

                    release(False)
                    converting = channel.wait_for(0, lambda r: r["state"] != 0, "converting")
                    time.sleep(0.1)
                    self.assertEqual(channel.record(0), converting)  # held in state 1
                    self.assertEqual(converting["state"], 1)
                    self.assertEqual(converting["processed"], 0)
                    self.assertEqual(converting["start"], opened["start"])

                    output = release(True)
                    self.assertEqual(proc.wait(timeout=60), 0)
                    self.assertIn(b"1 file was processed.", output())
                    done = channel.record(0)
                    self.assertEqual(done["state"], 2)
                    self.assertEqual(done["path"], self.path("in.txt"))
                    self.assertEqual(done["total"], len(data))
                    self.assertEqual(done["processed"], len(data))  # the last read found the end
                    self.assertEqual((done["decoder_charset"], done["encoder_charset"]),
                                     (dec_id, enc_id))
                    self.assertEqual((done["decoder_errors"], done["encoder_errors"]),
                                     (dec_errors, enc_errors))
                    self.assertGreaterEqual(done["end"], done["start"])
                    self.assertEqual(done["reserved"], 0)
                finally:
                    channel.close()
                # The channel went with its owner.
                for name_ in shm_files(proc.pid):
                    self.assertFalse(os.path.exists(name_), name_)

    def test_every_conversion_overwrites_record_zero(self):
        os.mkdir(self.path("d"))
        sizes = {}
        for k, name in enumerate(("a.txt", "b.txt", "c.txt")):
            data = "x".encode("utf-16-le") * (10 + k)
            sizes[self.write(os.path.join("d", name), data)] = len(data)
        proc, release = self.start_held(["d", "/y", "/i", "utf-16", "/o", "utf-16"])
        channel = Channel(proc.pid)
        try:
            output = release(True)
            self.assertEqual(proc.wait(timeout=60), 0)
            last = self.converted_paths(output())[-1]
            record = channel.record(0)
            self.assertEqual((record["path"], record["state"]), (last, 2))
            self.assertEqual(record["total"], sizes[last])
            self.assertEqual(record["link"], 1)  # still at the head of the free list
            self.assertEqual(channel.header()["used_head"], NO_RECORD)
            self.assertEqual(channel.record(1)["path"], "")
        finally:
            channel.close()


class CsvReportTest(StatusTestCase):
    def make_inputs(self, count=3):
        """Files of different sizes in d; returns their sizes by path."""
        os.mkdir(self.path("d"))
        sizes = {}
        for k in range(count):
            data = ("text %d " % k * (k + 1)).encode("utf-16-le")
            sizes[shown(self.write(os.path.join("d", "f%d.txt" % k), data))] = len(data)
        return sizes

    def csv_lines(self, name):
        data = self.read(name)
        self.assertEqual(data[:2], b"\xff\xfe")
        body = data[2:].decode("utf-16-le")
        self.assertTrue(body == "" or body.endswith("\r\n"))
        return body.split("\r\n")[:-1] if body else []

    def test_one_line_per_conversion(self):
        sizes = self.make_inputs()
        code, out = self.run_ordana("d", "/y", "/i", "utf-16", "/o", "utf-8", "/csv", "report.csv")
        self.assertEqual(code, 0)
        paths = self.converted_paths(out)
        self.assertEqual(sorted(paths), sorted(sizes))
        lines = self.csv_lines("report.csv")
        self.assertEqual(len(lines), 3)
        for path, line in zip(paths, lines):
            self.assertRegex(line, "^%s\t%d\tutf-16\tutf-8\t0\t0\t\\d+$"
                             % (re.escape(path), sizes[path]))

    def test_error_counts_and_an_input_without_size(self):
        self.write("bad.txt", b"a\xe2\x82b")
        code, _ = self.run_ordana("bad.txt", "bad.out", "/i", "utf-8", "/o", "utf-16",
                                  "/csv", "r.csv")
        self.assertEqual(code, 0)
        self.assertRegex(self.csv_lines("r.csv")[0], "^" + re.escape(self.shown("bad.txt")) +
                         "\t4\tutf-8\tutf-16\t1\t0\t\\d+$")
        # Standard input from a pipe has no size: 0 in the second column.
        env = dict(os.environ)
        for name in ("LC_ALL", "LC_MESSAGES", "LANG"):
            env.pop(name, None)
        proc = subprocess.run(PREFIX + [ORDANA, "\\\\.\\CONIN$", "out.txt", "/i", "utf-16", "/o",
                                        "utf-8", "/csv", "r.csv"],
                              input="\ud800x".encode("utf-16-le", "surrogatepass"), cwd=self.dir,
                              env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(proc.returncode, 0)
        # The report is appended to: the first run's line stays first.
        lines = self.csv_lines("r.csv")
        self.assertEqual(len(lines), 2)
        self.assertRegex(lines[1],
                         "^" + re.escape("\\\\.\\CONIN$") + "\t0\tutf-16\tutf-8\t0\t1\t\\d+$")

    def test_same_path_keeps_the_file_another_path_closes_it(self):
        self.make_inputs(1)
        code, _ = self.run_ordana("d", "/y", "/i", "utf-16", "/o", "utf-16", "/csv", "one.csv",
                                  "/csv", "./one.csv")
        self.assertEqual(code, 0)
        self.assertEqual(len(self.csv_lines("one.csv")), 1)
        code, _ = self.run_ordana("d", "/y", "/i", "utf-16", "/o", "utf-16", "/csv", "one.csv",
                                  "/csv", "two.csv")
        self.assertEqual(code, 0)
        # The later /csv wins; the report named before it is not touched.
        self.assertEqual(len(self.csv_lines("one.csv")), 1)
        self.assertEqual(len(self.csv_lines("two.csv")), 1)

    def test_report_that_cannot_be_created_is_no_error(self):
        self.make_inputs(1)
        code, out = self.run_ordana("d", "/y", "/i", "utf-16", "/o", "utf-16", "/csv",
                                    os.path.join("missing", "r.csv"))
        self.assertEqual(code, 0)
        self.assertIn("1 file was processed.", text(out))


@posix_only("the channel's objects in /dev/shm and POSIX process ids")
class CollectTest(StatusTestCase):
    def test_three_conversions_arrive_as_records_0_1_2_in_order(self):
        os.mkdir(self.path("d"))
        sizes = {}
        for k in range(3):
            data = ("conversion %d " % k * (k + 1)).encode("utf-16-le")
            sizes[shown(self.write(os.path.join("d", "f%d.txt" % k), data))] = len(data)
        collector, lines = self.start_collector("--count", "3", "--csv", "collected.csv")
        code, out = self.run_ordana("d", "/y", "/i", "utf-16", "/o", "utf-8", "/ssb",
                                    str(collector.pid), "/csv", "report.csv")
        self.assertEqual(code, 0)
        self.assertEqual(collector.wait(timeout=60), 0)
        records = self.collected(lines.rest())
        self.assertEqual([r["index"] for r in records], [0, 1, 2])
        self.assertEqual([r["path"] for r in records], self.converted_paths(out))
        for r in records:
            self.assertEqual(r["size"], sizes[r["path"]])
            self.assertEqual((r["source"], r["destination"], r["errors"]),
                             ("utf-16", "utf-8", (0, 0)))
        # Both sides write the same report from the same records.
        self.assertEqual(self.read("collected.csv"), self.read("report.csv"))
        for name in shm_files(collector.pid):
            self.assertFalse(os.path.exists(name), name)

    def test_channel_made_for_a_running_process_stays_for_it(self):
        # The converter makes and initialises the channel of a consumer that
        # is not there yet (a process that exists, but collects nothing yet).
        sleeper = self.start(["sleep", "60"])
        self.addCleanup(remove_channel, sleeper.pid)
        self.write("a.txt", "a".encode("utf-16-le"))
        code, _ = self.run_ordana("a.txt", "/i", "utf-16", "/o", "utf-16", "/ssb", str(sleeper.pid))
        self.assertEqual(code, 0)
        # Made for a process that still runs, the channel stays for it.
        channel = Channel(sleeper.pid, timeout=0)
        try:
            header = channel.header()
            self.assertEqual((header["signature"], header["used_count"], header["used_head"],
                              header["free_head"]), (1, 1, 0, 1))
            record = channel.record(0)
            self.assertEqual((record["state"], record["path"], record["link"]),
                             (2, self.path("a.txt"), NO_RECORD))
        finally:
            channel.close()

    def test_channel_made_for_a_process_that_does_not_exist_goes_with_the_converter(self):
        remove_channel(DEAD_OWNER)
        self.write("a.txt", "a".encode("utf-16-le"))
        code, _ = self.run_ordana("a.txt", "/i", "utf-16", "/o", "utf-16", "/ssb", str(DEAD_OWNER))
        self.assertEqual(code, 0)
        for name in shm_files(DEAD_OWNER):
            self.assertFalse(os.path.exists(name), name)

    def test_a_consumer_that_frees_nothing_does_not_hang_the_converter(self):
        # 512 records, then one bounded wait, then conversions without a
        # record: all files are converted.
        sleeper = self.start(["sleep", "120"])
        self.addCleanup(remove_channel, sleeper.pid)
        os.mkdir(self.path("d"))
        for k in range(515):
            self.write(os.path.join("d", "f%03d.txt" % k), b"a\x00")
        started = time.monotonic()
        code, out = self.run_ordana("d", "/y", "/i", "utf-16", "/o", "utf-16", "/loglevel", "2",
                                    "/ssb", str(sleeper.pid), timeout=120)
        self.assertEqual(code, 0)
        self.assertIn("515 files were processed.", text(out))
        self.assertLess(time.monotonic() - started, 60)
        self.assertEqual(text(out).count("No free record in the status channel"), 3)
        self.assertEqual(text(out).count("within 5000 ms"), 1)  # one wait, not one per file
        channel = Channel(sleeper.pid, timeout=0)
        try:
            header = channel.header()
            self.assertEqual((header["used_count"], header["free_head"]), (512, NO_RECORD))
        finally:
            channel.close()

    def test_load_four_converters_into_one_collector(self):
        converters, files = 4, 200
        expected = {}
        for c in range(converters):
            os.mkdir(self.path("d%d" % c))
            for k in range(files):
                data = ("converter %d file %d " % (c, k) * (1 + k % 7)).encode("utf-16-le")
                expected[self.write(os.path.join("d%d" % c, "f%03d.txt" % k), data)] = len(data)
        collector, lines = self.start_collector("--count", str(converters * files))
        procs = [self.start([ORDANA, "d%d" % c, "/y", "/i", "utf-16", "/o", "utf-8", "/ssb",
                             str(collector.pid)], stdout=subprocess.PIPE)
                 for c in range(converters)]
        for proc in procs:
            out, err = proc.communicate(timeout=240)
            self.assertEqual(proc.returncode, 0)
            self.assertIn("%d files were processed." % files, msg(out, err))
        self.assertEqual(collector.wait(timeout=120), 0)
        records = self.collected(lines.rest())
        paths = [r["path"] for r in records]
        self.assertEqual(len(paths), len(set(paths)), "a record was collected twice")
        self.assertEqual(set(paths), set(expected), "records were lost")
        for r in records:
            self.assertEqual(r["size"], expected[r["path"]])
            self.assertLess(r["index"], 512)


class FollowTest(StatusTestCase):
    @posix_only("the channel's objects in /dev/shm and POSIX process ids")
    def test_follows_the_current_input_until_the_converter_ends(self):
        data = "0123456789".encode("utf-16-le") * 200000  # 4 MB: two reads
        self.write("big.txt", data)
        # Nobody reads the converter's output pipe at first: it stops in its
        # first chunk and stays there while ordana-watch looks.
        proc = self.start([ORDANA, "big.txt", "/dev/fd/1", "/i", "utf-16", "/o", "utf-16"])
        channel = Channel(proc.pid)
        channel.wait_for(0, lambda r: r["state"] == 1, "converting")
        channel.close()
        watch = self.start([WATCH, str(proc.pid), "--interval", "20"])
        lines = LineReader(watch.stdout)
        self.assertEqual(lines.next(),
                         "%s: 0 of %d bytes (0%%), 0 B/s" % (self.path("big.txt"), len(data)))
        drained = []
        reader = threading.Thread(target=lambda: drained.append(proc.stdout.read()), daemon=True)
        reader.start()
        self.assertEqual(proc.wait(timeout=60), 0)
        reader.join(60)
        self.assertEqual(watch.wait(timeout=30), 0)
        rest = lines.rest()
        self.assertRegex(rest[-1], "^" + re.escape(self.path("big.txt")) +
                         ": done, %d bytes in \\d+ ms, errors 0/0$" % len(data))
        for line in rest[:-1]:
            self.assertRegex(line, "^%s: \\d+ of %d bytes" % (re.escape(self.path("big.txt")),
                                                             len(data)))

    def test_no_such_process(self):
        proc = self.start([WATCH, str(DEAD_OWNER)])
        _, err = proc.communicate(timeout=30)
        self.assertEqual(proc.returncode, 2)
        self.assertIn("there is no process", text(err))

    def test_usage(self):
        for args in ([], ["--collect", "1"], ["x"], ["--count"], ["1", "--interval", "0"]):
            with self.subTest(args=args):
                proc = self.start([WATCH] + args)
                _, err = proc.communicate(timeout=30)
                self.assertEqual(proc.returncode, 1)
                self.assertIn("Usage:", text(err))


if __name__ == "__main__":
    unittest.main()
