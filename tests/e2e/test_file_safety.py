"""File safety: a failed conversion changes nothing and says so.

Faults are injected the way they happen: a read that fails with EIO, a disk
that fills up, memory that runs out, an input that another process changes
or deletes while it is converted, a directory owned by another user who
swaps the temporary file for a link. Every test checks the user's files
(bytes, mode, type), that nothing is left behind (no odn*.tmp, no status
channel names of the process) and that the exit code and the messages tell
the truth. The faults come from the LD_PRELOAD library tests/fault builds
(ORDANA_FAULT_LIBRARY); the pause it offers stops the program at a chosen
read, so that the changes happen at a known point of the conversion.
"""

import hashlib
import itertools
import os
import shutil
import stat
import subprocess
import tempfile
import time
import unittest

from ordana_run import COPY, ON_WINDOWS, ORDANA, PREFIX, posix_only, system_user

FAULT_LIBRARY = os.environ.get("ORDANA_FAULT_LIBRARY", "")
FAULT_ALLOC_LIBRARY = os.environ.get("ORDANA_FAULT_ALLOC_LIBRARY", "")
SANITIZED = os.environ.get("ORDANA_SANITIZED", "").upper() in ("ON", "1", "TRUE", "YES")
# A user of this test module only: the owner of files and directories that
# the converting user does not own.
OTHER_USER = "ordana-safety"

# Bigger than two read chunks (2 MiB each), so that a fault or a pause at
# the second read falls in the middle of the file.
BIG = (b"line of text \xc3\xa4\xc3\xb6\xc3\xbc\n" * 300000)[: 5 * 1024 * 1024]
SHORT = "In place: Ordana \u00e4\u00f6\u00fc.\n".encode("utf-8")


def needs_fault_library(test):
    test = unittest.skipUnless(FAULT_LIBRARY and os.path.exists(FAULT_LIBRARY),
                               "the fault-injection library was not built (ORDANA_FAULT_LIBRARY)")(test)
    return posix_only("LD_PRELOAD fault injection")(test)


def other_user():
    """The uid and gid of OTHER_USER, created when missing; None when this
    is not possible (not root)."""
    return system_user(OTHER_USER)


def as_user(uid, gid, command):
    return ["setpriv", "--reuid=%d" % uid, "--regid=%d" % gid, "--clear-groups"] + command


def utf16_with_bom(data):
    return b"\xff\xfe" + data.decode("utf-8").encode("utf-16-le")


def snapshot(directory):
    """Every entry below `directory`: its type, mode, owner and content (a
    digest of it, so that a failure message stays readable)."""
    result = {}
    for root, dirs, files in os.walk(directory):
        for name in dirs + files:
            path = os.path.join(root, name)
            info = os.lstat(path)
            if stat.S_ISREG(info.st_mode):
                with open(path, "rb") as f:
                    content = hashlib.sha256(f.read()).hexdigest()
            elif stat.S_ISLNK(info.st_mode):
                content = os.readlink(path)
            else:
                content = None
            result[os.path.relpath(path, directory)] = (
                stat.S_IFMT(info.st_mode), stat.S_IMODE(info.st_mode), info.st_uid, content)
    return result


class SafetyTestCase(unittest.TestCase):
    def setUp(self):
        self._scratch = tempfile.TemporaryDirectory(prefix="ordana-safety-")
        self.dir = self._scratch.name
        os.chmod(self.dir, 0o755)

    def tearDown(self):
        self._scratch.cleanup()

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, name, data, mode=0o644):
        with open(self.path(name), "wb") as f:
            f.write(data)
        os.chmod(self.path(name), mode)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def environment(self, faults):
        env = dict(os.environ)
        for name in ("LC_ALL", "LC_MESSAGES", "LANG"):
            env.pop(name, None)
        if faults:
            env["LD_PRELOAD"] = FAULT_LIBRARY
            if "ALLOC_FAIL" in faults:
                env["LD_PRELOAD"] += ":" + FAULT_ALLOC_LIBRARY
            # The sanitizer runtime would insist on coming first.
            env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
            env.update({"ORDANA_FAULT_" + k: str(v) for k, v in faults.items()})
        return env

    def start(self, args, faults=None, user=None, cwd=None):
        command = PREFIX + [ORDANA] + list(args)
        if user:
            command = as_user(user[0], user[1], command)
        return subprocess.Popen(command, cwd=cwd or self.dir, env=self.environment(faults),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)

    def finish(self, proc, timeout=60):
        """Exit code and all messages of a started run; checks that it left
        neither a temporary file nor status channel names behind."""
        out, _ = proc.communicate(timeout=timeout)
        self.assertNoLeftovers(proc.pid)
        return proc.returncode, out.decode("utf-8", "replace")

    def convert(self, *args, faults=None, user=None, cwd=None):
        return self.finish(self.start(args, faults, user, cwd))

    def assertNoLeftovers(self, pid):
        left = [os.path.join(root, name) for root, _, files in os.walk(self.dir)
                for name in files if name.startswith("odn") and name.endswith(".tmp")]
        self.assertEqual(left, [], "temporary files left behind")
        # The Windows build's channel objects live in the Windows object
        # namespace (they vanish with the process), and the process id seen
        # here is not Windows's.
        if os.path.isdir("/dev/shm") and not ON_WINDOWS:
            suffix = ".%X" % pid
            names = [n for n in os.listdir("/dev/shm") if "Quennel.Ordana" in n and n.endswith(suffix)]
            self.assertEqual(names, [], "status channel names left behind")

    def release(self, gate):
        """Lets a program held at its pause go on."""
        os.unlink(gate + ".paused")
        with open(gate, "w"):
            pass

    def wait_for(self, marker, proc):
        """Waits until the paused program has created `marker`."""
        for _ in range(3000):
            if os.path.exists(marker):
                return
            if proc.poll() is not None:
                self.fail("the program ended before it paused: %r" % (proc.communicate()[0],))
            time.sleep(0.01)
        proc.kill()
        self.fail("the program never reached the pause")


@needs_fault_library
class ReadErrorTest(SafetyTestCase):
    """A read that fails in the middle of the input is not its end."""

    def test_read_error_changes_nothing(self):
        faults = {"PATH": "in.txt", "READ_FAIL": 2}
        cases = [
            # (name, output or None for in place, output existing before)
            ("in place", None, None),
            ("into a new file", "out.txt", None),
            ("over an existing file", "out.txt", b"the old output\n"),
        ]
        for name, output, existing in cases:
            with self.subTest(name):
                self.write("in.txt", BIG, 0o640)
                if existing is not None:
                    self.write("out.txt", existing, 0o600)
                before = snapshot(self.dir)
                code, out = self.convert("/i", "utf-8", "/o", "utf-16", "in.txt",
                                         *([output] if output else []), faults=faults)
                self.assertEqual(code, 4, out)
                self.assertIn("Input error for %s: Input/output error" % self.path("in.txt"), out)
                self.assertIn("0 files were processed.\n1 input failed.\n", out.replace("\r", ""))
                self.assertEqual(snapshot(self.dir), before)
                for leftover in ("out.txt",):
                    if os.path.exists(self.path(leftover)):
                        os.unlink(self.path(leftover))

    def test_first_read_failing_is_not_an_empty_input(self):
        self.write("in.txt", SHORT)
        before = snapshot(self.dir)
        code, out = self.convert("/o", "utf-16", "in.txt", faults={"PATH": "in.txt", "READ_FAIL": 1})
        self.assertEqual(code, 4, out)
        self.assertEqual(snapshot(self.dir), before)


@needs_fault_library
class WriteErrorTest(SafetyTestCase):
    """A disk that fills up costs the user nothing that was there."""

    def test_full_disk_changes_nothing(self):
        for name, output, existing in [("in place", None, None),
                                       ("into a new file", "out.txt", None),
                                       ("over an existing file", "out.txt", b"precious\n")]:
            for fail_at in (1, 2):
                with self.subTest(name, write=fail_at):
                    self.write("in.txt", BIG, 0o604)
                    if existing is not None:
                        self.write("out.txt", existing, 0o640)
                    before = snapshot(self.dir)
                    # Only the temporary file's writes fail.
                    code, out = self.convert("/i", "utf-8", "/o", "utf-16", "in.txt",
                                             *([output] if output else []),
                                             faults={"PATH": "odn", "WRITE_FAIL": fail_at})
                    self.assertEqual(code, 4, out)
                    shown = self.path(output or "in.txt")
                    self.assertIn("Output error for %s: No space left on device" % shown, out)
                    self.assertEqual(snapshot(self.dir), before)
                    if os.path.exists(self.path("out.txt")):
                        os.unlink(self.path("out.txt"))

    def three_inputs(self):
        """in/a.txt, in/b.txt (large) and in/c.txt as UTF-16LE; their bytes by name."""
        parts = {"a.txt": "first part\n".encode("utf-16-le"),
                 "b.txt": BIG.decode("utf-8").encode("utf-16-le"),
                 "c.txt": "third part\n".encode("utf-16-le")}
        os.mkdir(self.path("in"))
        for name, data in parts.items():
            self.write(os.path.join("in", name), data)
        return parts

    def test_appending_cuts_a_failed_part_off_again(self):
        # Three inputs into one output; the middle one fails half-way. The
        # output holds the other two whole and nothing of the failed one.
        parts = self.three_inputs()
        code, out = self.convert(*COPY, "/y", os.path.join("in", "*.txt"), "all.out",
                                 faults={"PATH": "b.txt", "READ_FAIL": 2})
        self.assertEqual(code, 4, out)
        self.assertIn("2 files were processed.\n1 input failed.\n", out.replace("\r", ""))
        result = self.read("all.out")
        self.assertTrue(result in (parts["a.txt"] + parts["c.txt"], parts["c.txt"] + parts["a.txt"]),
                        "the output holds more or less than the two whole parts (%d bytes)" % len(result))
        for name, data in parts.items():
            self.assertTrue(self.read(os.path.join("in", name)) == data, name + " changed")

    def test_another_writer_appending_to_the_output_loses_nothing(self):
        # While the run appends its inputs to one output, another process
        # appends lines of its own: none of them is overwritten.
        parts = self.three_inputs()
        gate = self.path("gate")
        # Held at the second read of b.txt: the output exists by then.
        proc = self.start(COPY + ["/y", os.path.join("in", "*.txt"), "all.out"],
                          faults={"PATH": "b.txt", "PAUSE_READ": 2, "PAUSE_FILE": gate})
        self.wait_for(gate + ".paused", proc)
        self.assertTrue(os.path.exists(self.path("all.out")))
        theirs = b"".join(b"line %04d of another writer\n" % k for k in range(3000))
        with open(self.path("all.out"), "ab") as f:
            f.write(theirs)
        self.release(gate)
        code, out = self.finish(proc)
        os.unlink(gate)
        self.assertEqual(code, 0, out)
        result = self.read("all.out")
        self.assertEqual(result.count(theirs), 1, "the other writer's lines were overwritten")
        # Without them, the output is the three parts whole, in the order the
        # directory listed them.
        ours = result.replace(theirs, b"")
        orders = [parts[x] + parts[y] + parts[z] for x, y, z in itertools.permutations(parts)]
        self.assertTrue(ours in orders, "the parts are not whole")

    def test_a_full_device_stops_the_reading(self):
        # Endless input into an output that takes nothing: the run must end
        # at the first failed write instead of reading on for ever.
        code, out = self.convert("/i", "iso-8859-1", "/o", "utf-8", "/dev/zero", "/dev/full")
        self.assertEqual(code, 4, out)
        self.assertIn("Output error for /dev/full: No space left on device", out)


@needs_fault_library
class ReportWriteErrorTest(SafetyTestCase):
    """A CSV report on a full disk: the conversions are done and stay, the
    report keeps only whole lines, and the run says so and ends with 4."""

    def test_a_report_that_cannot_be_written_fails_the_run(self):
        converted = utf16_with_bom(SHORT)
        names = ("a.txt", "b.txt", "c.txt")
        # (what, arguments, report writes that succeed before the disk is full)
        cases = [
            ("byte order mark, into a file", ["a.txt", "out.txt"], 0),
            ("first line, in place", ["a.txt"], 1),
            ("second line, a pattern in place", ["*.txt", "/y"], 2),
        ]
        for what, paths, passing in cases:
            with self.subTest(what):
                for name in names:
                    self.write(name, SHORT, 0o640)
                if os.path.exists(self.path("out.txt")):
                    os.unlink(self.path("out.txt"))
                report = self.path("report-%d.csv" % passing)
                code, out = self.convert("/i", "utf-8", "/o", "utf-16", *paths, "/csv", report,
                                         faults={"PATH": "report-", "WRITE_FAIL": passing + 1})
                self.assertEqual(code, 4, out)
                message = ("Error: the CSV report %s could not be written: "
                           "No space left on device\n" % report)
                self.assertEqual(out.count(message), 1, out)
                self.assertNotIn("input failed", out)
                # The conversions went through whole.
                if "out.txt" in paths:
                    self.assertEqual(self.read("out.txt"), converted)
                    self.assertEqual(self.read("a.txt"), SHORT)
                    self.assertEqual(stat.S_IMODE(os.stat(self.path("a.txt")).st_mode), 0o640)
                else:
                    done = names if "*.txt" in paths else ("a.txt",)
                    for name in names:
                        self.assertEqual(self.read(name), converted if name in done else SHORT, name)
                        self.assertEqual(stat.S_IMODE(os.stat(self.path(name)).st_mode), 0o640)
                # The report holds what was written before the disk filled:
                # no half line.
                data = self.read(os.path.basename(report))
                if passing == 0:
                    self.assertEqual(data, b"")
                else:
                    self.assertEqual(data[:2], b"\xff\xfe")
                    lines = data[2:].decode("utf-16-le").split("\r\n")
                    self.assertEqual(len(lines), passing, lines)  # whole lines and an empty rest
                    self.assertEqual(lines[-1], "")


@needs_fault_library
class DirectoryReadErrorTest(SafetyTestCase):
    """A directory that cannot be read to its end is a failed input, never a
    shorter directory: nothing of it is converted."""

    def test_a_failed_directory_read_is_no_end_of_the_directory(self):
        os.mkdir(self.path("walked"))
        for name in ("a.txt", "b.txt", "c.txt"):
            self.write(os.path.join("walked", name), SHORT)
        for what, args in [("pattern", [os.path.join("walked", "*.txt"), "/y"]),
                           ("directory", ["walked", "/y"])]:
            for failing in (1, 2, 4):
                with self.subTest(what, read=failing):
                    before = snapshot(self.dir)
                    code, out = self.convert("/i", "utf-8", "/o", "utf-16", *args,
                                             faults={"PATH": "walked", "READDIR_FAIL": failing})
                    self.assertEqual(code, 4, out)
                    self.assertIn("Error: the directory %s could not be read: "
                                  "Input/output error" % self.path("walked"), out)
                    self.assertIn("1 input failed.", out)
                    self.assertEqual(snapshot(self.dir), before)


@needs_fault_library
@needs_fault_library
class PartialWriteTest(SafetyTestCase):
    """write(2) may take fewer bytes than asked (pipes, sockets, a signal):
    the rest is written, so the output is whole and the run succeeds."""

    def test_every_write_taking_a_few_bytes_still_writes_everything(self):
        wanted = BIG.decode("utf-8").encode("utf-16-le")
        for most in (1000, 4093):
            for output in (None, "out.txt"):
                with self.subTest(most=most, output=output):
                    self.write("in.txt", BIG, 0o640)
                    args = ["/i", "utf-8", "/o", "utf-16", "/nobom", "/y", "in.txt"]
                    code, out = self.convert(*args, *([output] if output else []),
                                             faults={"WRITE_SHORT": most})
                    self.assertEqual(code, 0, out)
                    self.assertEqual(self.read(output or "in.txt"), wanted)
                    if output:
                        self.assertEqual(self.read("in.txt"), BIG)
                        self.assertEqual(stat.S_IMODE(os.stat(self.path("in.txt")).st_mode), 0o640)
                        os.unlink(self.path(output))
                    else:
                        self.assertEqual(stat.S_IMODE(os.stat(self.path("in.txt")).st_mode), 0o640)
                    self.assertEqual(sorted(os.listdir(self.dir)), ["in.txt"])


class OutOfMemoryTest(SafetyTestCase):
    @unittest.skipIf(SANITIZED, "the sanitizer's allocator cannot be replaced by LD_PRELOAD")
    @unittest.skipUnless(FAULT_ALLOC_LIBRARY and os.path.exists(FAULT_ALLOC_LIBRARY),
                         "the allocation fault library was not built (ORDANA_FAULT_ALLOC_LIBRARY)")
    def test_out_of_memory_at_any_point_cleans_up(self):
        # The Nth allocation after the input is opened fails, for a spread of
        # N: the run ends with exit code 8 and the out-of-memory message, or,
        # where the program could go on, with a finished conversion. Never a
        # crash, a half-converted file or a temporary left behind.
        converted = utf16_with_bom(BIG)
        out_of_memory = 0
        for n in (1, 2, 3, 4, 5, 7, 10, 15, 20, 30):
            with self.subTest(allocation=n):
                self.write("in.txt", BIG, 0o640)
                code, out = self.convert("/i", "utf-8", "/o", "utf-16", "in.txt",
                                         faults={"PATH": "in.txt", "ALLOC_FAIL": n})
                self.assertIn(code, (0, 8), out)
                result = self.read("in.txt")
                self.assertTrue(result in (BIG, converted), "half converted (%d bytes)" % len(result))
                self.assertEqual(stat.S_IMODE(os.stat(self.path("in.txt")).st_mode), 0o640)
                if code == 8:
                    out_of_memory += 1
                    self.assertIn("Memory allocation error", out)
                    self.assertNotIn("1 file was processed", out)
                else:
                    self.assertTrue(result == converted, "not converted")
                    self.assertIn("1 file was processed", out)
        self.assertGreater(out_of_memory, 0, "no allocation failure was ever met")


@needs_fault_library
class ChangedUnderTheConversionTest(SafetyTestCase):
    """Another process changes the input while it is converted (the program
    is paused at its second read meanwhile)."""

    def run_with_change(self, change, *extra):
        self.write("in.txt", BIG, 0o640)
        gate = self.path("gate")
        proc = self.start(["/i", "utf-8", "/o", "utf-16", "in.txt"] + list(extra),
                          faults={"PATH": "in.txt", "PAUSE_READ": 2, "PAUSE_FILE": gate})
        self.wait_for(gate + ".paused", proc)
        change()
        self.release(gate)
        code, out = self.finish(proc)
        os.unlink(gate)
        return code, out

    def test_appended_lines_are_kept(self):
        def append():
            with open(self.path("in.txt"), "ab") as f:
                f.write(b"a line another process appended\n")
        code, out = self.run_with_change(append)
        self.assertEqual(code, 4, out)
        self.assertIn("Input error for %s: the file changed while it was converted" % self.path("in.txt"), out)
        self.assertTrue(self.read("in.txt") == BIG + b"a line another process appended\n",
                        "the input as the other process left it was not kept")

    def test_truncated_input_is_not_replaced_by_a_part(self):
        def truncate():
            os.truncate(self.path("in.txt"), 1000)
        code, out = self.run_with_change(truncate)
        self.assertEqual(code, 4, out)
        self.assertIn("Input error for %s: the file changed" % self.path("in.txt"), out)
        self.assertEqual(self.read("in.txt"), BIG[:1000])

    def test_deleted_input_is_not_created_again(self):
        code, out = self.run_with_change(lambda: os.unlink(self.path("in.txt")))
        self.assertEqual(code, 4, out)
        self.assertIn("Input error for %s: the file was deleted" % self.path("in.txt"), out)
        self.assertEqual(os.listdir(self.dir), [])

    def test_replaced_input_is_not_overwritten(self):
        def replace():
            self.write("new.txt", b"a newer file\n", 0o600)
            os.rename(self.path("new.txt"), self.path("in.txt"))
        code, out = self.run_with_change(replace)
        self.assertEqual(code, 4, out)
        self.assertIn("was replaced by someone else", out)
        self.assertEqual(self.read("in.txt"), b"a newer file\n")

    def test_deleted_input_into_a_named_output_still_converts(self):
        # Deleting a name does not change what was opened: the output is whole.
        code, out = self.run_with_change(lambda: os.unlink(self.path("in.txt")), "out.txt")
        self.assertEqual(code, 0, out)
        self.assertTrue(self.read("out.txt") == utf16_with_bom(BIG), "the output is not the whole input")


class ExitCodeTest(SafetyTestCase):
    def test_exit_codes_and_summaries(self):
        os.mkdir(self.path("d"))
        self.write(os.path.join("d", "a.txt"), b"a")
        cases = [
            # (arguments, exit code, text in the messages)
            (["missing.txt"], 4, "1 input failed."),
            ([os.path.join("nodir", "*.txt")], 4, "1 input failed."),
            ([os.path.join("d", "*.none")], 0, "0 files were processed."),
            ([os.path.join("d", "*.txt")], 0, "1 file was processed."),
        ]
        for args, expected, message in cases:
            with self.subTest(args=args):
                code, out = self.convert(*COPY, *args)
                self.assertEqual(code, expected, out)
                self.assertIn(message, out)
                if expected == 0:
                    self.assertNotIn("failed", out)

    def test_usage_lists_the_exit_codes(self):
        code, out = self.convert("/?")
        self.assertEqual(code, 0)
        self.assertIn("4 one or more inputs failed", out)

    @posix_only("German interface through LANG")
    def test_summary_in_german(self):
        proc = subprocess.run(PREFIX + [ORDANA, *COPY, "a.txt", "b.txt"], cwd=self.dir,
                              env=dict(self.environment(None), LANG="de_DE.UTF-8"),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(proc.returncode, 4)
        self.assertIn("1 Eingabe ist fehlgeschlagen.", proc.stdout.decode("utf-8"))


@posix_only("file owners, modes and setpriv are POSIX's")
class OtherUserTest(SafetyTestCase):
    def setUp(self):
        super().setUp()
        self.user = other_user()
        if self.user is None:
            self.skipTest("needs root to create the user %s" % OTHER_USER)

    def give(self, name):
        os.chown(self.path(name), *self.user)

    def test_read_only_file_is_converted_in_place_by_its_owner(self):
        # The owner of a 0444 file in their own directory converts it: it is
        # replaced once, keeps its mode and owner, and is counted once.
        os.chown(self.dir, *self.user)
        self.write("ro.txt", SHORT, 0o444)
        self.give("ro.txt")
        code, out = self.convert("/i", "utf-8", "/o", "utf-16", "ro.txt", user=self.user)
        self.assertEqual(code, 0, out)
        self.assertIn("1 file was processed.", out)
        self.assertNotIn("error", out.lower())
        self.assertEqual(self.read("ro.txt"), utf16_with_bom(SHORT))
        info = os.stat(self.path("ro.txt"))
        self.assertEqual((stat.S_IMODE(info.st_mode), info.st_uid), (0o444, self.user[0]))
        self.assertEqual(os.listdir(self.dir), ["ro.txt"])

    def test_read_only_output_of_another_is_refused(self):
        # A named output the user may not write stays as it is.
        os.chmod(self.dir, 0o777)
        self.write("in.txt", SHORT)
        self.write("out.txt", b"not yours\n", 0o644)  # root's
        before = snapshot(self.dir)
        code, out = self.convert("/i", "utf-8", "/o", "utf-16", "in.txt", "out.txt", user=self.user)
        self.assertEqual(code, 4, out)
        self.assertIn("Output error for %s: Permission denied" % self.path("out.txt"), out)
        self.assertEqual(snapshot(self.dir), before)

    @needs_fault_library
    def test_swapping_the_temporary_for_a_link_gains_nothing(self):
        # Root converts a file in a directory that another user owns. While
        # the converter is held at its second read, that user replaces the
        # temporary file with a link to a file of root's. The conversion must
        # fail without writing to, or giving away, root's file.
        shared = self.path("shared")
        os.mkdir(shared)
        os.chown(shared, *self.user)
        secret = self.write("secret", b"root's secret\n", 0o600)
        self.write(os.path.join("shared", "notes.txt"), BIG, 0o644)
        self.give(os.path.join("shared", "notes.txt"))
        before = snapshot(self.dir)
        gate = self.path("gate")
        proc = self.start(["/i", "utf-8", "/o", "utf-16", os.path.join("shared", "notes.txt")],
                          faults={"PATH": "notes.txt", "PAUSE_READ": 2, "PAUSE_FILE": gate})
        self.wait_for(gate + ".paused", proc)
        temporaries = [n for n in os.listdir(shared) if n.startswith("odn")]
        self.assertEqual(len(temporaries), 1, os.listdir(shared))
        planted = os.path.join(shared, temporaries[0])
        swap = subprocess.run(as_user(*self.user, ["sh", "-c", 'rm -f "$1" && ln -s "$2" "$1"', "swap",
                                                   planted, secret]),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(swap.returncode, 0, swap.stdout)
        self.release(gate)
        out, _ = proc.communicate(timeout=60)
        out = out.decode("utf-8", "replace")
        os.unlink(gate)
        self.assertEqual(proc.returncode, 4, out)
        self.assertIn("was replaced by someone else", out)
        # The attacker's link is theirs and stays; everything else is as it was.
        os.unlink(planted)
        self.assertEqual(snapshot(self.dir), before)
        self.assertNoLeftovers(proc.pid)

    def test_fifo_input_cannot_hold_an_in_place_conversion(self):
        # The old way to hold the converter: a FIFO as the input, converted
        # in place, with the temporary already created beside it. Now nothing
        # is created beside a FIFO: the other user, feeding the FIFO, never
        # sees a temporary to swap, and root's file stays untouched.
        shared = self.path("shared")
        os.mkdir(shared)
        os.chown(shared, *self.user)
        fifo = os.path.join(shared, "notes.txt")
        os.mkfifo(fifo, 0o644)
        self.give(os.path.join("shared", "notes.txt"))
        self.write("secret", b"root's secret\n", 0o600)
        before = snapshot(self.dir)
        proc = self.start(["/i", "utf-8", "/o", "utf-16", fifo])
        seen = set()
        deadline = time.monotonic() + 20
        writer = None
        while proc.poll() is None and time.monotonic() < deadline:
            seen.update(n for n in os.listdir(shared) if n.startswith("odn"))
            if writer is None:
                try:
                    writer = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
                    seen.update(n for n in os.listdir(shared) if n.startswith("odn"))
                    os.write(writer, SHORT)
                    os.close(writer)
                except OSError:
                    writer = None  # no reader yet
            time.sleep(0.01)
        code, out = self.finish(proc, timeout=30)
        self.assertEqual(seen, set(), "a temporary file appeared beside the FIFO")
        self.assertEqual(snapshot(self.dir), before)
        # Refused, or (where a named FIFO is read as a stream) converted to
        # standard output: never converted in place.
        self.assertIn(code, (0, 4), out)
        if code == 4:
            self.assertIn("not a regular file", out)


@needs_fault_library
class StatusChannelFaultTest(SafetyTestCase):
    """The system refusing to give back the status channel's mutex is said,
    with the system's reason, and costs the conversion nothing."""

    def test_a_refused_release_is_said_with_its_reason(self):
        self.write("in.txt", SHORT)
        code, out = self.convert("in.txt", "out.txt", "/i", "utf-8", "/o", "utf-16", "/nobom",
                                 "/loglevel=2", faults={"SEM_POST_FAIL": 1})
        self.assertEqual(code, 0, out)
        self.assertRegex(out, r"The status channel \S+ could not give back its mutex or a "
                              r"semaphore: Value too large for defined data type\n")
        self.assertEqual(self.read("out.txt"), SHORT.decode("utf-8").encode("utf-16-le"))
        self.assertEqual(self.read("in.txt"), SHORT)


if __name__ == "__main__":
    unittest.main()
