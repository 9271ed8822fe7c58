"""Devices by what they are, the process's own standard streams, and what a
pattern, directory or recursive run takes from the directories it walks
(no devices, no planted links, no binary files, no files of the run itself).

Every test checks that the user's files are intact (bytes, mode, type), that
nothing is left behind (no odn*.tmp, no /dev/shm names of the processes it
started) and that the exit code and the messages tell the truth."""

import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from ordana_run import ON_WINDOWS, ORDANA, PREFIX, ScratchTestCase, msg, posix_only, shm_files, text
# UTF-16BE in, UTF-16LE with a byte order mark out: a converted file is told
# apart from an untouched one.
from test_inputs import CONVERT, converted, source

# The second, unprivileged user of this module (created when run as root).
OTHER_USER = "odnwalkpeer"


def describe(path):
    """What a user would call the state of one file: type, mode and bytes
    (or the target of a link)."""
    info = os.lstat(path)
    if stat.S_ISLNK(info.st_mode):
        return ("link", os.readlink(path), info.st_uid)
    if stat.S_ISFIFO(info.st_mode):
        return ("fifo", stat.S_IMODE(info.st_mode))
    if stat.S_ISDIR(info.st_mode):
        return ("dir", stat.S_IMODE(info.st_mode))
    with open(path, "rb") as f:
        return ("file", stat.S_IMODE(info.st_mode), info.st_uid, f.read())


def other_user():
    """The name of an unprivileged second user, created if need be; skips
    the test when that is not possible."""
    if ON_WINDOWS or os.geteuid() != 0:
        raise unittest.SkipTest("needs root to create a second, unprivileged user")
    if shutil.which("useradd") is None or shutil.which("runuser") is None:
        raise unittest.SkipTest("useradd and runuser are not installed")
    subprocess.run(["useradd", "--no-create-home", "--shell", "/usr/sbin/nologin", OTHER_USER],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        import pwd
        return pwd.getpwnam(OTHER_USER)
    except KeyError:
        raise unittest.SkipTest("the user %s could not be created" % OTHER_USER)


class DeviceTestCase(ScratchTestCase):
    def setUp(self):
        super().setUp()
        self.pids = []

    def tearDown(self):
        for pid in self.pids:
            for name in shm_files(pid):
                self.assertFalse(os.path.exists(name), "left behind: " + name)
        leftovers = []
        for root, dirs, files in os.walk(self.dir):
            leftovers += [os.path.join(root, n) for n in files if n.lower().startswith("odn")
                          and n.lower().endswith(".tmp") and n not in self.planted_temporaries()]
        self.assertEqual(leftovers, [])
        super().tearDown()

    def planted_temporaries(self):
        return getattr(self, "planted", ())

    def ordana(self, *args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, timeout=30,
               env_extra=None):
        """Runs ordana; returns (exit code, standard output, standard error)."""
        env = dict(os.environ)
        for name in ("LC_ALL", "LC_MESSAGES", "LANG"):
            env.pop(name, None)
        env.update(env_extra or {})
        proc = subprocess.Popen(PREFIX + [ORDANA] + list(args), cwd=self.dir, env=env,
                                stdin=stdin, stdout=stdout, stderr=subprocess.PIPE)
        self.pids.append(proc.pid)
        try:
            out, err = proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.terminate()
            proc.communicate()
            self.fail("ordana %s did not finish within %d s" % (" ".join(args), timeout))
        return proc.returncode, out or b"", err or b""

    def make_tree(self, files):
        for name, data in files.items():
            path = self.path(name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)

    def read_log(self, name):
        """A log file's text, UTF-16LE with its mark or UTF-8."""
        data = self.read(name)
        return data[2:].decode("utf-16-le") if data.startswith(b"\xff\xfe") else data.decode()

    def snapshot(self, *names):
        return {name: describe(self.path(name)) for name in names}


@posix_only("/dev/stdout, /dev/fd/1 and the other stream names are POSIX names")
class StandardStreamTest(DeviceTestCase):
    """/dev/stdout and /dev/fd/1 are the process's standard output, never
    reopened (so never truncated); /dev/stdin and /dev/fd/0 its standard
    input."""

    def test_several_inputs_all_reach_a_redirected_standard_output(self):
        self.make_tree({"in/a.txt": source("first"), "in/b.txt": source("second"),
                        "in/c.txt": source("third")})
        before = self.snapshot("in/a.txt", "in/b.txt", "in/c.txt")
        for device in ("/dev/stdout", "/dev/fd/1", "\\\\.\\CONOUT$"):
            for mode in ("wb", "ab"):
                with self.subTest(device=device, mode=mode):
                    target = self.path("out.bin")
                    with open(target, "wb") as f:
                        f.write(b"KEEP")
                    with open(target, mode) as f:
                        code, out, err = self.ordana("in/*.txt", device, "/y", "/nobom", *CONVERT,
                                                     stdout=f)
                    self.assertEqual(code, 0, text(err))
                    with open(target, "rb") as f:
                        data = f.read()
                    expected_parts = ["first", "second", "third"]
                    if mode == "ab":
                        self.assertTrue(data.startswith(b"KEEP"), data[:10])
                        data = data[4:]
                    body = data.decode("utf-16-le")
                    # Every input survives, whatever order the walk takes.
                    self.assertEqual(len(body), len("".join(expected_parts)), body)
                    for part in expected_parts:
                        self.assertIn(part, body)
                    self.assertEqual(self.snapshot("in/a.txt", "in/b.txt", "in/c.txt"), before)

    def test_standard_input_names(self):
        for device in ("/dev/stdin", "/dev/fd/0"):
            with self.subTest(device=device):
                with open(self.write("in.txt", source("piped")), "rb") as f:
                    code, out, err = self.ordana(device, "out.txt", *CONVERT, stdin=f)
                self.assertEqual(code, 0, text(err))
                self.assertEqual(self.read("out.txt"), converted("piped"))
                self.assertEqual(self.read("in.txt"), source("piped"))

    def test_device_input_goes_to_the_real_standard_output_even_with_a_log(self):
        with open(self.write("in.txt", source("data")), "rb") as f:
            code, out, err = self.ordana("/dev/stdin", "/log=run.log", *CONVERT, stdin=f)
        self.assertEqual(code, 0, text(err))
        self.assertEqual(out, converted("data"))
        log = self.read_log("run.log")
        self.assertNotIn("data", log)
        self.assertIn("1 file was processed.", log)


class DataAndMessagesTest(DeviceTestCase):
    def test_no_message_in_the_data_when_the_log_cannot_be_created(self):
        self.write("a.txt", source("payload"))
        log = os.path.join(self.dir, "no", "such", "dir.log")
        for device in ["\\\\.\\CONOUT$"] + ([] if ON_WINDOWS else ["/dev/stdout"]):
            with self.subTest(device=device):
                code, out, err = self.ordana("a.txt", device, "/log=" + log, *CONVERT)
                self.assertEqual(code, 0, text(err))
                self.assertEqual(out, converted("payload"))
                self.assertEqual(self.read("a.txt"), source("payload"))


@posix_only("FIFOs, /dev/shm and file types are POSIX")
class DeviceByTypeTest(DeviceTestCase):
    def test_regular_file_under_dev_shm_is_a_file(self):
        directory = tempfile.mkdtemp(prefix="ordana-e2e-", dir="/dev/shm")
        self.addCleanup(shutil.rmtree, directory)
        path = os.path.join(directory, "note.txt")
        with open(path, "wb") as f:
            f.write(source("in shared memory"))
        os.chmod(path, 0o640)
        code, out, err = self.ordana(path, *CONVERT)
        self.assertEqual(code, 0, text(err))
        # Converted in place like any file, not poured onto standard output.
        self.assertEqual(describe(path)[:2], ("file", 0o640))
        with open(path, "rb") as f:
            self.assertEqual(f.read(), converted("in shared memory"))
        self.assertIn("1 file was processed.", msg(out, err))
        self.assertEqual(sorted(os.listdir(directory)), ["note.txt"])

    def write_fifo(self, path, data, delay=0.0):
        """Writes `data` into the FIFO from a thread (opening blocks until a
        reader comes); returns the thread."""
        def writer():
            time.sleep(delay)
            fd = os.open(path, os.O_WRONLY)
            try:
                os.write(fd, data)
            finally:
                os.close(fd)
        thread = threading.Thread(target=writer, daemon=True)
        thread.start()
        return thread

    def test_named_fifo_is_a_stream_never_replaced(self):
        fifo = self.path("pipe.txt")
        for delay, args in ((0.0, []), (0.5, []), (0.0, ["out.txt"])):
            with self.subTest(writer_delay=delay, output=args):
                os.mkfifo(fifo)
                os.chmod(fifo, 0o620)
                writer = self.write_fifo(fifo, source("through the fifo"), delay)
                code, out, err = self.ordana("pipe.txt", *args, *CONVERT)
                writer.join(10)
                self.assertFalse(writer.is_alive())
                self.assertEqual(code, 0, text(err))
                if args:
                    self.assertEqual(self.read("out.txt"), converted("through the fifo"))
                    os.unlink(self.path("out.txt"))
                else:
                    # No output named: the text goes to standard output.
                    self.assertEqual(out, converted("through the fifo"))
                self.assertEqual(describe(fifo), ("fifo", 0o620))
                self.assertEqual(sorted(os.listdir(self.dir)), ["pipe.txt"])
                os.unlink(fifo)

    def test_fifo_as_output_is_written_as_it_is(self):
        self.write("a.txt", source("into the fifo"))
        fifo = self.path("sink")
        os.mkfifo(fifo)
        os.chmod(fifo, 0o600)
        received = []

        def reader():
            with open(fifo, "rb") as f:
                received.append(f.read())
        thread = threading.Thread(target=reader, daemon=True)
        thread.start()
        code, out, err = self.ordana("a.txt", "sink", *CONVERT)
        thread.join(10)
        self.assertEqual(code, 0, text(err))
        self.assertEqual(received, [converted("into the fifo")])
        self.assertEqual(describe(fifo), ("fifo", 0o600))
        self.assertEqual(self.read("a.txt"), source("into the fifo"))

    def test_pattern_skips_fifos_without_opening_them(self):
        self.make_tree({"d/a.txt": source("alpha")})
        lonely = self.path("d", "lonely.txt")
        waiting = self.path("d", "waiting.txt")
        for fifo in (lonely, waiting):
            os.mkfifo(fifo)
            os.chmod(fifo, 0o644)
        # A writer waits on the second FIFO: opening it for reading would
        # let the writer through.
        opened = []

        def writer():
            fd = os.open(waiting, os.O_WRONLY)
            opened.append(True)
            os.close(fd)
        thread = threading.Thread(target=writer, daemon=True)
        thread.start()
        for args in (["d/*.txt"], ["d", "/y"], [".", "/r", "/y"]):
            with self.subTest(args=args):
                code, out, err = self.ordana(*args, "/i", "utf-16be", "/o", "utf-16be", "/nobom")
                self.assertEqual(code, 0, text(err))
                out = msg(out, err)
                for fifo in (lonely, waiting):
                    self.assertIn("Skipped %s: not a regular file" % fifo, out)
                    self.assertEqual(describe(fifo), ("fifo", 0o644))
                self.assertIn("1 file was processed.", out)
        self.assertEqual(opened, [], "the walk opened a FIFO")
        # Let the writer go.
        fd = os.open(waiting, os.O_RDONLY | os.O_NONBLOCK)
        thread.join(10)
        os.close(fd)

    def test_link_to_a_device_in_a_walk_is_skipped(self):
        self.make_tree({"d/a.txt": source("alpha")})
        os.symlink("/dev/zero", self.path("d", "zero.txt"))
        code, out, err = self.ordana("d/*.txt", *CONVERT, timeout=20)
        self.assertEqual(code, 0, text(err))
        self.assertRegex(msg(out, err), "Skipped %s: (not a regular file|a symbolic link that is not "
                         "yours)" % re.escape(self.path("d", "zero.txt")))
        self.assertEqual(self.read("d/a.txt"), converted("alpha"))
        self.assertEqual(describe(self.path("d", "zero.txt"))[:2], ("link", "/dev/zero"))


class RunFilesTest(DeviceTestCase):
    def test_log_and_report_are_never_inputs_of_a_walk(self):
        self.make_tree({"a.txt": source("alpha")})
        code, out, err = self.ordana("*.*", "/log=run.log", "/csv", "report.csv", "/y", *CONVERT)
        self.assertEqual(code, 0, text(err))
        log = self.read_log("run.log")
        self.assertIn("Skipped %s: it is the log file or the CSV report of this run."
                      % self.shown("run.log"), log)
        self.assertIn("Skipped %s: it is the log file or the CSV report of this run."
                      % self.shown("report.csv"), log)
        self.assertIn("1 file was processed.", log)
        self.assertEqual(self.read("a.txt"), converted("alpha"))
        # The report holds one line, for a.txt, and is still the report.
        report = self.read("report.csv")
        self.assertTrue(report.startswith(b"\xff\xfe"))
        lines = report[2:].decode("utf-16-le").splitlines()
        self.assertEqual(len(lines), 1, lines)
        self.assertTrue(lines[0].startswith(self.shown("a.txt") + "\t"), lines)

    def test_temporary_files_are_never_inputs_of_a_walk(self):
        self.planted = ("odn1A2B.tmp", "ODNF.TMP", "odnXYZ.tmp")
        self.make_tree({"a.txt": source("alpha"), "odn1A2B.tmp": source("left over"),
                        "ODNF.TMP": source("older"), "odnXYZ.tmp": source("not ours")})
        code, out, err = self.ordana("*.*", "/y", *CONVERT)
        self.assertEqual(code, 0, text(err))
        out = msg(out, err)
        for name in self.planted[:2]:
            self.assertIn("Skipped %s: a temporary file" % self.shown(name), out)
            self.assertEqual(self.read(name), source("left over" if name[3] == "1" else "older"))
        self.assertEqual(self.read("odnXYZ.tmp"), converted("not ours"))
        self.assertIn("2 files were processed.", out)


class CreatedDirectoriesTest(DeviceTestCase):
    def test_the_walk_never_enters_what_it_creates(self):
        self.make_tree({"in/a.txt": source("alpha"), "in/s1/b.txt": source("beta"),
                        "in/s1/s2/c.txt": source("gamma")})
        code, out, err = self.ordana("in/*.txt", "in/s1/all.txt", "/r", "/y", *CONVERT,
                                     timeout=60)
        self.assertEqual(code, 0, text(err))
        dirs = sorted(os.path.relpath(root, self.dir) for root, _, _ in os.walk(self.dir))
        self.assertEqual(dirs, [".", "in", os.path.join("in", "s1"),
                                os.path.join("in", "s1", "s2")])
        parts = self.read("in/s1/all.txt")
        for name in ("alpha", "beta", "gamma"):
            self.assertIn(converted(name), parts)
        self.assertEqual(len(parts), sum(len(converted(n)) for n in ("alpha", "beta", "gamma")))
        self.assertEqual(self.read("in/a.txt"), source("alpha"))
        self.assertIn("3 files were processed.", msg(out, err))

    def test_a_recursive_run_into_a_device_creates_no_directories(self):
        self.make_tree({"in/s1/b.txt": source("beta")})
        code, out, err = self.ordana("in/*.txt", "\\\\.\\CONOUT$", "/r", *CONVERT)
        self.assertEqual(code, 0, text(err))
        self.assertEqual(out, converted("beta"))
        self.assertEqual(sorted(os.listdir(self.dir)), ["in"])


def png():
    return (b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR\x00\x00\x00\x01\x00\x00\x00\x01\x08\x02"
            b"\x00\x00\x00\x90wS\xde")


class BinaryFilesTest(DeviceTestCase):
    def tree(self):
        with open(sys.executable, "rb") as f:
            executable = f.read(65536)
        self.make_tree({
            "repo/readme.txt": source("read me"),
            "repo/utf16.txt": "no mark".encode("utf-16-le"),  # NULs of UTF-16
            "repo/utf32.txt": "wide".encode("utf-32-le"),
            "repo/marked.txt": "\ufeffmarked".encode("utf-16-be"),
            # not "nul.txt": NUL is a device name on Windows
            "repo/zeros.txt": b"text\x00with a NUL",
            "repo/picture.txt": png(),
            "repo/program.txt": executable,
            "repo/packed.txt": b"PK\x03\x04" + b"zip data",
            "repo/.git/HEAD": b"ref: refs/heads/main\n",
            "repo/.git/index": b"DIRC\x00\x00\x00\x02",
            "repo/.hg/store.txt": source("hg"),
            "repo/.svn/entries": b"12\n",
            "repo/sub/x.txt": source("x file"),
        })

    def test_walks_skip_binary_files_and_version_control_directories(self):
        self.tree()
        names = ["repo/zeros.txt", "repo/picture.txt", "repo/program.txt", "repo/packed.txt",
                 "repo/.git/HEAD", "repo/.git/index", "repo/.hg/store.txt", "repo/.svn/entries"]
        before = self.snapshot(*names)
        code, out, err = self.ordana("repo", "/r", "/y", "/o", "utf-8", "/nobom")
        self.assertEqual(code, 0, text(err))
        out = msg(out, err)
        self.assertEqual(self.snapshot(*names), before)
        reasons = {"zeros.txt": "a file with NUL bytes", "picture.txt": "an image",
                   "program.txt": "an executable program",
                   "packed.txt": "an archive or compressed file"}
        for name, reason in reasons.items():
            self.assertIn("Skipped %s: %s, not text (/binary converts it anyway)."
                          % (self.shown("repo", name), reason), out)
        for name in (".git", ".hg", ".svn"):
            self.assertIn("Skipped %s: a version control directory." % self.shown("repo", name),
                          out)
        self.assertEqual(self.read("repo/utf16.txt"), "no mark".encode("utf-8"))
        self.assertEqual(self.read("repo/utf32.txt"), "wide".encode("utf-8"))
        self.assertEqual(self.read("repo/marked.txt"), "marked".encode("utf-8"))
        self.assertEqual(self.read("repo/readme.txt"), "read me".encode("utf-8"))
        self.assertEqual(self.read("repo/sub/x.txt"), "x file".encode("utf-8"))
        self.assertIn("5 files were processed.", out)

    def test_binary_option_converts_them_and_a_named_file_is_converted_as_asked(self):
        self.tree()
        code, out, err = self.ordana("repo/*.txt", "/binary", "/i", "iso-8859-1", "/o", "utf-16")
        self.assertEqual(code, 0, text(err))
        self.assertEqual(self.read("repo/picture.txt"), converted(png().decode("latin-1")))
        self.assertEqual(self.read("repo/zeros.txt"), converted("text\x00with a NUL"))
        self.assertIn("8 files were processed.", msg(out, err))
        self.make_tree({"single.png": png()})
        code, out, err = self.ordana("single.png", "/i", "iso-8859-1", "/o", "utf-16")
        self.assertEqual(code, 0, text(err))
        self.assertEqual(self.read("single.png"), converted(png().decode("latin-1")))


@posix_only("symbolic links and their owners")
class LinksInWalksTest(DeviceTestCase):
    def test_own_links_are_followed_and_the_link_stays(self):
        self.make_tree({"d/a.txt": source("alpha"), "t/target.dat": source("target")})
        os.symlink(os.path.join("..", "t", "target.dat"), self.path("d", "l.txt"))
        code, out, err = self.ordana("d/*.txt", *CONVERT)
        self.assertEqual(code, 0, text(err))
        self.assertEqual(self.read("t/target.dat"), converted("target"))
        self.assertEqual(describe(self.path("d", "l.txt"))[:2],
                         ("link", os.path.join("..", "t", "target.dat")))
        self.assertIn("2 files were processed.", msg(out, err))

    def shared_tree(self):
        user = other_user()
        os.chmod(self.dir, 0o755)
        shared = self.path("shared")
        os.mkdir(shared)
        os.chmod(shared, 0o1777)
        self.make_tree({"shared/a.txt": source("alpha"), "private/secret": source("root only"),
                        "private/theirs.txt": source("their file")})
        os.chmod(self.path("private/secret"), 0o600)
        os.chown(self.path("private/theirs.txt"), user.pw_uid, user.pw_gid)
        os.chmod(self.path("private/theirs.txt"), 0o644)
        # The other user plants a link to the root-only file; root makes a
        # link to the other user's file.
        subprocess.run(["runuser", "-u", OTHER_USER, "--", "ln", "-s",
                        self.path("private/secret"), os.path.join(shared, "planted.txt")],
                       check=True)
        os.symlink(self.path("private/theirs.txt"), os.path.join(shared, "to_theirs.txt"))
        return user, shared

    def test_planted_links_are_not_followed(self):
        user, shared = self.shared_tree()
        names = ["private/secret", "private/theirs.txt", "shared/planted.txt",
                 "shared/to_theirs.txt"]
        before = self.snapshot(*names)
        for args in (["shared/*.txt"], ["shared", "/y"], ["shared/*.txt", "/r"]):
            with self.subTest(args=args):
                code, out, err = self.ordana(*args, "/i", "utf-16be", "/o", "utf-16be", "/nobom")
                self.assertEqual(code, 0, text(err))
                out = msg(out, err)
                for name in ("planted.txt", "to_theirs.txt"):
                    self.assertIn("Skipped %s: a symbolic link that is not yours"
                                  % os.path.join(shared, name), out)
                self.assertEqual(self.snapshot(*names), before)
        # /followlinks follows them; a link named explicitly is followed as
        # before.
        code, out, err = self.ordana("shared/*.txt", "/followlinks", *CONVERT)
        self.assertEqual(code, 0, text(err))
        self.assertEqual(self.read("private/secret"), converted("root only"))
        self.assertEqual(self.read("private/theirs.txt"), converted("their file"))
        self.assertEqual(describe(self.path("private/secret"))[:3], ("file", 0o600, 0))
        self.assertEqual(describe(self.path("private/theirs.txt"))[1:3], (0o644, user.pw_uid))
        code, out, err = self.ordana("shared/to_theirs.txt", "/scs=utf-16", "/dcs=utf-8", "/nobom")
        self.assertEqual(code, 0, text(err))
        self.assertEqual(self.read("private/theirs.txt"), "their file".encode("utf-8"))
        self.assertEqual(describe(os.path.join(shared, "to_theirs.txt"))[0], "link")


if __name__ == "__main__":
    unittest.main()
