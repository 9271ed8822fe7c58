"""Where the program's text goes. On POSIX the messages and questions go to
standard error as UTF-8 with LF, whatever standard error is (pipe, file,
terminal); standard output carries only what the user asked to see; the log
file is UTF-8 with LF; silence is silence on both streams. The Windows build
keeps its messages on standard output and its UTF-16LE log."""

import os
import re
import shlex
import subprocess
import tty
import unittest

from ordana_run import (GERMAN, ON_WINDOWS, ORDANA, PREFIX, ScratchTestCase, environment, posix_only,
                        read_log, run_streams, shown, utf16, windows_only)

STAMP = r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,0\d{3} \(\d\): "
# A name that is not ASCII: its UTF-8 must come through unchanged. Wine
# passes a command line through the ANSI code page, so the Windows tests use
# a name that code page holds.
# Under Wine a name reaches the program through the ANSI code page of the
# environment's locale, which may hold nothing beyond ASCII; the Windows tests
# are about the streams' encoding, not about names.
NAME = "streams.txt" if ON_WINDOWS else "grüße ελληνικά.txt"
TEXT = "Grüße, Ελληνικά\n"


class StreamsTestCase(ScratchTestCase):
    def assertPeopleText(self, data):
        """`data` is text for people on POSIX: strict UTF-8, LF line ends, the
        last line ended. Returns it decoded."""
        self.assertNotIn(b"\r", data)
        self.assertNotIn(b"\x00", data)  # not UTF-16
        self.assertFalse(data.startswith(b"\xef\xbb\xbf"), data[:10])
        decoded = data.decode("utf-8", "strict")
        self.assertTrue(decoded.endswith("\n"), decoded[-40:])
        return decoded

    def convert_args(self):
        self.write(NAME, TEXT.encode("utf-8"))
        return [NAME, "out.txt", "/i", "utf-8", "/o", "utf-16", "/nobom"]

    def assertConverted(self):
        self.assertEqual(self.read("out.txt"), TEXT.encode("utf-16-le"))
        self.assertEqual(self.read(NAME), TEXT.encode("utf-8"))


@posix_only("messages on standard error are the POSIX build's")
class StandardErrorTest(StreamsTestCase):
    def run_with_stderr(self, kind, args):
        """Runs ordana with standard output redirected to a file and standard
        error of `kind` ("pipe", "file", "terminal"); returns (exit code,
        bytes on standard output, bytes on standard error)."""
        with open(self.path("stdout.bin"), "wb") as out:
            if kind == "pipe":
                proc = subprocess.run(PREFIX + [ORDANA] + args, cwd=self.dir, env=environment(),
                                      stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=subprocess.PIPE, timeout=60)
                err = proc.stderr
            elif kind == "file":
                with open(self.path("stderr.bin"), "wb") as error:
                    proc = subprocess.run(PREFIX + [ORDANA] + args, cwd=self.dir,
                                          env=environment(), stdin=subprocess.DEVNULL,
                                          stdout=out, stderr=error, timeout=60)
                err = self.read("stderr.bin")
                os.unlink(self.path("stderr.bin"))
            else:
                # A terminal in raw mode: the line discipline adds no CR of
                # its own, so what arrives is what the program wrote.
                master, slave = os.openpty()
                tty.setraw(slave)
                try:
                    proc = subprocess.Popen(PREFIX + [ORDANA] + args, cwd=self.dir,
                                            env=environment(), stdin=subprocess.DEVNULL,
                                            stdout=out, stderr=slave)
                    os.close(slave)
                    slave = None
                    chunks = []
                    while True:
                        try:
                            chunk = os.read(master, 65536)
                        except OSError:  # EIO: the terminal's last writer is gone
                            break
                        if not chunk:
                            break
                        chunks.append(chunk)
                    proc.wait(timeout=60)
                    err = b"".join(chunks)
                finally:
                    os.close(master)
                    if slave is not None:
                        os.close(slave)
        data = self.read("stdout.bin")
        os.unlink(self.path("stdout.bin"))
        return proc.returncode, data, err

    def test_messages_go_to_standard_error_whatever_it_is(self):
        args = self.convert_args()
        expected = ("Character set: utf-8 => utf-16\n", self.path(NAME) + "\n",
                    "\n1 file was processed.\n")
        for kind in ("pipe", "file", "terminal"):
            with self.subTest(stderr=kind):
                code, out, err = self.run_with_stderr(kind, args)
                self.assertEqual(code, 0, err)
                self.assertEqual(out, b"")
                messages = self.assertPeopleText(err)
                self.assertTrue(messages.startswith(expected[0]), messages)
                self.assertIn(expected[1], messages)
                self.assertTrue(messages.endswith(expected[2]), messages)
                self.assertConverted()

    def test_failures_and_german_messages_are_utf8_on_standard_error(self):
        cases = [
            # (arguments, environment, exit code, texts on standard error)
            (["missing.txt", "out.txt", "/i", "utf-8", "/o", "utf-16"], {}, 4,
             ["Input error for %s: " % self.path("missing.txt"), "1 input failed.\n"]),
            (["a.txt", "/o", "utf-9"], {}, 2, ["unknown destination character set \"utf-9\""]),
            (["a.txt", "--frmo=utf-8"], {}, 3, ["unknown option", "ordana --help"]),
            (["a.txt", "/i", "utf-8", "/o", "utf-16"], GERMAN, 0,
             ["Zeichensatz: utf-8 => utf-16\n", "Es wurde 1 Datei verarbeitet.\n"]),
            (["missing.txt", "out.txt"], GERMAN, 4, ["Eingabefehler für"]),
        ]
        for args, env, code_expected, texts in cases:
            with self.subTest(args=args, env=env):
                self.write("a.txt", "Grüße\n".encode("utf-8"))
                code, out, err = run_streams(args, cwd=self.dir, env_extra=env)
                self.assertEqual(code, code_expected, err)
                self.assertEqual(out, b"")
                messages = self.assertPeopleText(err)
                for t in texts:
                    self.assertIn(t, messages)

    def test_redirected_standard_output_stays_empty(self):
        # The first thing a Linux user tries: a file for the messages with >.
        self.write("a.txt", "Grüße\n".encode("cp1252"))
        command = "%s a.txt /i windows-1252 /o utf-8 > log.txt 2> err.txt" % " ".join(
            shlex.quote(p) for p in PREFIX + [ORDANA])
        proc = subprocess.run(["sh", "-c", command], cwd=self.dir, env=environment(),
                              stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual(proc.returncode, 0)
        self.assertEqual(self.read("log.txt"), b"")
        messages = self.assertPeopleText(self.read("err.txt"))
        self.assertIn("1 file was processed.\n", messages)
        self.assertEqual(self.read("a.txt"), "\ufeffGrüße\n".encode("utf-8"))
        # grep finds a message as it is.
        found = subprocess.run(["grep", "-c", "^1 file was processed\\.$", "err.txt"],
                               cwd=self.dir, stdout=subprocess.PIPE, timeout=60)
        self.assertEqual(found.stdout, b"1\n")

    def test_a_walk_never_converts_the_file_its_messages_go_to(self):
        # `ordana '*.txt' ... 2> err.txt`: the shell creates err.txt first,
        # and the pattern matches it.
        for args in (["*.txt"], [".", "/y"], ["*.txt", "/r"]):
            with self.subTest(args=args):
                self.write("a.txt", "Grüße\n".encode("cp1252"))
                args = args + ["/i", "windows-1252", "/o", "utf-8"]
                with open(self.path("err.txt"), "wb") as err:
                    proc = subprocess.run(PREFIX + [ORDANA] + args, cwd=self.dir,
                                          env=environment(), stdin=subprocess.DEVNULL,
                                          stdout=subprocess.PIPE, stderr=err, timeout=60)
                self.assertEqual(proc.returncode, 0)
                self.assertEqual(proc.stdout, b"")
                messages = self.assertPeopleText(self.read("err.txt"))
                self.assertIn("Skipped %s: this run's messages are written into it.\n"
                              % self.path("err.txt"), messages)
                self.assertTrue(messages.endswith("\n1 file was processed.\n"), messages)
                self.assertEqual(self.read("a.txt"), "\ufeffGrüße\n".encode("utf-8"))
                os.unlink(self.path("err.txt"))

    def test_questions_go_to_standard_error(self):
        os.mkdir(self.path("d"))
        self.write(os.path.join("d", "a.txt"), b"abc")
        question = 'Do you really want to convert all files in "d" (Y/N)? '
        for keys, code_expected in ((b"y\n", 0), (b"n\n", 5)):
            with self.subTest(keys=keys):
                code, out, err = run_streams(["d", "/i", "utf-8", "/o", "utf-8", "/nobom"],
                                             cwd=self.dir, input=keys)
                self.assertEqual(code, code_expected, err)
                self.assertEqual(out, b"")
                messages = self.assertPeopleText(err)
                self.assertEqual(messages.count(question), 1, messages)
                if code_expected == 5:
                    self.assertIn("Directory as input is invalid.\n", messages)

    def test_what_the_user_asked_to_see_goes_to_standard_output(self):
        cases = [
            (["/?"], "Ordana 2.0.17.8\n\nUsage: ordana <input file(s)> [options] [output]\n"),
            (["--help"], "Usage: ordana [OPTION]... INPUT [OUTPUT]\n"),
            (["-h"], "Usage: ordana [OPTION]... INPUT [OUTPUT]\n"),
            (["--version"], "ordana 2.0.17.8\n"),
            (["/listall"], "UTF-16\nUTF-16BE\n"),
            (["/listallcsv"], "UTF-16\nUTF-16BE\n"),
            (["--list"], "UTF-16\nUTF-16BE\n"),
            (["--list-csv"], "UTF-16\nUTF-16BE\n"),
            # A log file named first changes nothing: these are no messages.
            (["/log=run.log", "/?"], "Ordana 2.0.17.8\n"),
            (["--log=run.log", "/listall"], "UTF-16\nUTF-16BE\n"),
        ]
        for args, start in cases:
            with self.subTest(args=args):
                code, out, err = run_streams(args, cwd=self.dir)
                self.assertEqual(code, 0, err)
                self.assertEqual(err, b"")
                shown_text = self.assertPeopleText(out)
                self.assertTrue(shown_text.startswith(start), shown_text[:120])

    def test_silent_mode_says_nothing_on_either_stream(self):
        os.mkdir(self.path("d"))
        self.write(os.path.join("d", "a.txt"), b"abc")
        cases = [
            # (arguments, exit code): successes, failures, a question, a trace
            (["/s"], 0), (["-q"], 0), (["--quiet"], 0), (["/silent", "/loglevel=5"], 0),
            (["/loglevel=0"], 0), (["--log-level=0"], 0),
        ]
        args = self.convert_args()
        for extra, code_expected in cases:
            with self.subTest(extra=extra):
                code, out, err = run_streams(args + extra, cwd=self.dir)
                self.assertEqual((code, out, err), (code_expected, b"", b""))
                self.assertConverted()
        for args, code_expected in ((["missing.txt", "out2.txt", "/s"], 4),
                                    (["d", "/s", "/i", "utf-8", "/o", "utf-8"], 0)):
            with self.subTest(args=args):
                code, out, err = run_streams(args, cwd=self.dir)
                self.assertEqual((code, out, err), (code_expected, b"", b""))
        self.assertFalse(os.path.exists(self.path("out2.txt")))

    def test_text_on_standard_output_leaves_failures_on_standard_error(self):
        # The messages keep out of converted text on standard output, but a
        # run must not fail without saying why; /s silences that too.
        self.write("ok.txt", TEXT.encode("utf-8"))
        self.write("bad.txt", b"a\xff\xfeb\n")
        failure = ["Input error for ", "missing.txt: No such file or directory\n",
                   "1 input failed.\n"]
        cases = [
            # (arguments, exit code, standard output, texts on standard error)
            (["missing.txt", "-"], 4, b"", failure),
            (["missing.txt", "/dev/stdout"], 4, b"", failure),
            (["missing.txt", "-", "/s"], 4, b"", []),
            (["ok.txt", "-"], 0, TEXT.encode("utf-16-le"), []),
            # A repair is said in a log, not as a failure.
            (["bad.txt", "-"], 0, "a\ufffd\ufffdb\n".encode("utf-16-le"), []),
        ]
        for args, code_expected, out_expected, texts in cases:
            with self.subTest(args=args):
                args = args + ["/i", "utf-8", "/o", "utf-16", "/nobom"]
                code, out, err = run_streams(args, cwd=self.dir)
                self.assertEqual(code, code_expected, err)
                self.assertEqual(out, out_expected)
                if not texts:
                    self.assertEqual(err, b"")
                    continue
                messages = self.assertPeopleText(err)
                for t in texts:
                    self.assertIn(t, messages)
                # Only the failures: no character set line, no summary.
                self.assertNotIn("Character set", messages)
                self.assertNotIn("processed", messages)
        self.assertEqual(self.read("ok.txt"), TEXT.encode("utf-8"))

    def test_log_file_is_utf8_with_lf_and_grep_reads_it(self):
        args = self.convert_args()
        code, out, err = run_streams(args + ["/log=run.log", "/loglevel=2"], cwd=self.dir)
        self.assertEqual((code, out, err), (0, b"", b""))
        self.assertConverted()
        data = self.read("run.log")
        log = self.assertPeopleText(data)
        self.assertEqual(read_log(self.path("run.log")), log)
        lines = log.split("\n")[:-1]
        self.assertGreaterEqual(len(lines), 6)
        for line in lines:
            self.assertRegex(line, "^" + STAMP)
        bodies = [re.sub(STAMP, "", line) for line in lines]
        self.assertEqual(bodies[0], "Character set: utf-8 => utf-16")
        self.assertIn("1 file was processed.", bodies)
        # grep finds the summary and the name that is not ASCII as they are.
        for pattern, count in (("file was processed\\.$", b"1\n"), (NAME, b"2\n")):
            with self.subTest(pattern=pattern):
                found = subprocess.run(["grep", "-c", "-F" if pattern == NAME else "-E", pattern,
                                        "run.log"], cwd=self.dir, stdout=subprocess.PIPE,
                                       timeout=60)
                self.assertEqual(found.stdout, count)
        # The German texts are UTF-8 as well.
        code, out, err = run_streams(args + ["/log=de.log"], cwd=self.dir, env_extra=GERMAN)
        self.assertEqual((code, out, err), (0, b"", b""))
        self.assertIn("Es wurde 1 Datei verarbeitet.\n", self.assertPeopleText(self.read("de.log")))


@windows_only("the Windows build keeps its messages on standard output")
class WindowsStreamsTest(StreamsTestCase):
    def test_messages_into_a_file_on_standard_output_are_utf16le(self):
        args = self.convert_args()
        with open(self.path("messages.bin"), "wb") as f:
            code, _, _ = run_streams(args, cwd=self.dir, stdout=f)
        self.assertEqual(code, 0)
        self.assertConverted()
        data = self.read("messages.bin")
        self.assertFalse(data.startswith(b"\xff\xfe"))
        messages = utf16(data)
        self.assertTrue(messages.startswith("Character set: utf-8 => utf-16\r\n"), messages)
        self.assertIn(shown(self.path(NAME)) + "\r\n", messages)
        self.assertTrue(messages.endswith("\r\n1 file was processed.\r\n"), messages)

    def test_log_file_is_utf16le_with_a_byte_order_mark_and_cr_lf(self):
        args = self.convert_args()
        code, out, _ = run_streams(args + ["/log=run.log"], cwd=self.dir)
        self.assertEqual((code, out), (0, b""))
        data = self.read("run.log")
        self.assertTrue(data.startswith(b"\xff\xfe"), data[:10])
        log = read_log(self.path("run.log"))
        self.assertTrue(log.endswith("1 file was processed.\r\n"), log[-60:])
        self.assertNotIn("\n", log.replace("\r\n", ""))


if __name__ == "__main__":
    unittest.main()
