"""What only the Windows build does: the command line as one string split by
the program itself, drive-letter paths, named pipe names, the German
interface through the user's interface language, the version resource and
the status channel's Windows objects. Run through Wine by
tools/test-windows.sh; skipped for the native build."""

import os
import re
import subprocess
import unittest

from ordana_run import (COPY, EXE_SUFFIX, ORDANA, PREFIX, ScratchTestCase, environment, shown,
                        text, utf16, windows_only)

WATCH = os.path.join(os.path.dirname(ORDANA), "ordana-watch" + EXE_SUFFIX)


@windows_only("the command line is split by the program")
class CommandLineTest(ScratchTestCase):
    """A batch file hands its lines to the program exactly as typed, the way
    a Windows command prompt does; Wine would escape quotes in arguments."""

    def run_typed(self, line, stdin=subprocess.DEVNULL):
        with open(self.path("run.bat"), "w", newline="\r\n") as f:
            f.write("@echo off\n\"%s\" %s\nexit /b %%ERRORLEVEL%%\n" % (shown(os.path.abspath(ORDANA)), line))
        proc = subprocess.run(PREFIX + ["cmd", "/c", "run.bat"], cwd=self.dir, env=environment(),
                              stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=120)
        return proc.returncode, proc.stdout

    def test_quoted_names_with_spaces(self):
        self.write("my file.txt", "hello".encode("utf-16-le"))
        code, out = self.run_typed('"my file.txt" /scs=utf-16 /nobom "out file.txt"')
        self.assertEqual(code, 0, out)
        self.assertIn("1 file was processed.", text(out))
        self.assertEqual(self.read("out file.txt"), "hello".encode("utf-16-le"))

    def test_equals_quote_keeps_the_value_together(self):
        self.write("a.txt", b"abcd")
        code, out = self.run_typed('/scs=utf-16 /nobom a.txt /output="b c.txt" /log="my log.log"')
        self.assertEqual((code, out), (0, b""))
        self.assertEqual(self.read("b c.txt"), b"abcd")
        log = self.read("my log.log")
        self.assertTrue(log.startswith(b"\xff\xfe"))
        self.assertIn("1 file was processed.", utf16(log[2:]))

    def test_text_before_a_quote_is_dropped(self):
        # The splitter restarts a token at a quote: x"a.txt" names a.txt.
        self.write("a.txt", b"abcd")
        code, out = self.run_typed('/scs=utf-16 /nobom x"a.txt" b.txt')
        self.assertEqual(code, 0, out)
        self.assertEqual(self.read("b.txt"), b"abcd")

    def test_wildcards_are_expanded_by_the_program(self):
        for name in ("a.txt", "b.txt", "c.dat"):
            self.write(name, b"x\x00")
        code, out = self.run_typed("*.txt /scs=utf-16 /dcs=utf-8 /nobom")
        self.assertEqual(code, 0, out)
        self.assertIn("2 files were processed.", text(out))
        self.assertEqual(self.read("a.txt"), b"x")
        self.assertEqual(self.read("c.dat"), b"x\x00")


@windows_only("drive letters and backslashes")
class PathTest(ScratchTestCase):
    def test_drive_letter_paths(self):
        self.write("a.txt", b"abcd")
        source = shown(self.path("a.txt"))
        target = shown(self.path("b.txt"))
        self.assertRegex(source, r"^[A-Z]:\\")
        code, out = self.run_ordana(*COPY, source, target)
        self.assertEqual(code, 0)
        self.assertEqual(text(out), "Character set: utf-16 => utf-16\r\n" + source +
                         "\r\n\r\n1 file was processed.\r\n")
        self.assertEqual(self.read("b.txt"), b"abcd")

    def test_backslashes_in_relative_paths_and_wildcards(self):
        os.makedirs(self.path("in", "sub"))
        os.mkdir(self.path("out"))
        self.write(os.path.join("in", "a.txt"), b"a\x00")
        self.write(os.path.join("in", "sub", "b.txt"), b"b\x00")
        code, out = self.run_ordana("in\\*.txt", "out\\", "/r", "/scs=utf-16", "/dcs=utf-8")
        self.assertEqual(code, 0, out)
        self.assertIn("2 files were processed.", text(out))
        self.assertEqual(self.read(os.path.join("out", "a.txt")), b"\xef\xbb\xbfa")
        self.assertEqual(self.read(os.path.join("out", "sub", "b.txt")), b"\xef\xbb\xbfb")

    def test_missing_named_pipe_is_an_output_error(self):
        self.write("a.txt", b"abcd")
        code, out = self.run_ordana(*COPY, "a.txt", "\\\\.\\pipe\\ordana-no-such-pipe")
        self.assertIn("Output error for \\\\.\\pipe\\ordana-no-such-pipe: ", text(out))
        # A pipe name is a device, never a file in the current directory.
        self.assertEqual(sorted(os.listdir(self.dir)), ["a.txt"])


@windows_only("resources")
class ResourceTest(ScratchTestCase):
    def test_version_resource_in_the_banner(self):
        code, out = self.run_ordana("/?")
        self.assertEqual(code, 0)
        self.assertTrue(text(out).startswith("Ordana 2.0.17.8\r\n\r\n"), out[:40])

    def test_german_interface_from_the_user_interface_language(self):
        for env in ({"LC_ALL": "de_DE.UTF-8"}, {"LC_ALL": "de_CH.UTF-8"}):
            with self.subTest(env=env):
                code, out = self.run_ordana("/?", env_extra=env)
                self.assertEqual(code, 0)
                out = text(out)
                self.assertIn("Verwendung: ordana <Quelldatei(en)> [Optionen] [Ausgabe]\r\n", out)
                self.assertIn("/s\t\tKeinerlei Ausgaben erzeugen (außer Protokolldatei)\r\n", out)
                self.assertNotIn("Linux", out)

    def test_german_prompt_takes_j(self):
        for name in ("a.txt", "b.txt"):
            self.write(name, b"x\x00")
        proc = subprocess.run(PREFIX + [ORDANA, "*.txt", "all.out", "/scs=utf-16", "/nobom"],
                              cwd=self.dir, env=environment({"LC_ALL": "de_DE.UTF-8"}),
                              input=b"j", stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=120)
        self.assertEqual(proc.returncode, 0)
        self.assertIn("Soll \"all.out\" wirklich als Zielort", text(proc.stdout))
        self.assertIn("Es wurden 2 Dateien verarbeitet.", text(proc.stdout))
        self.assertEqual(self.read("all.out"), b"x\x00x\x00")


COLLECTED = re.compile(r"^#(\d+) (.*): (\d+) bytes, (\S+) => (\S+), errors (\d+)/(\d+), \d+ ms$")


@windows_only("the status channel's Windows objects")
class StatusChannelTest(ScratchTestCase):
    def test_collector_receives_the_records_of_a_converter(self):
        os.mkdir(self.path("d"))
        sizes = {}
        for k in range(3):
            data = ("conversion %d " % k * (k + 1)).encode("utf-16-le")
            sizes[shown(self.write(os.path.join("d", "f%d.txt" % k), data))] = len(data)
        collector = subprocess.Popen(PREFIX + [WATCH, "--collect", "--count", "3"], cwd=self.dir,
                                     env=environment(), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            ready = collector.stdout.readline().decode("utf-8")
            match = re.search(r"/ssb (\d+)$", ready.strip())
            self.assertIsNotNone(match, ready)
            code, out = self.run_ordana("d", "/y", "/i", "utf-16", "/o", "utf-8", "/ssb",
                                        match.group(1))
            self.assertEqual(code, 0, out)
            rest, _ = collector.communicate(timeout=60)
        finally:
            if collector.poll() is None:
                collector.kill()
                collector.wait()
            collector.stdout.close()
            collector.stderr.close()
        self.assertEqual(collector.returncode, 0)
        lines = [l for l in rest.decode("utf-8").splitlines() if l]
        self.assertEqual(len(lines), 3, lines)
        seen = {}
        for line in lines:
            found = COLLECTED.match(line)
            self.assertIsNotNone(found, line)
            seen[found.group(2)] = int(found.group(3))
            self.assertEqual(found.group(4, 5, 6, 7), ("utf-16", "utf-8", "0", "0"))
        self.assertEqual(seen, sizes)

    def test_watch_of_a_process_that_does_not_exist(self):
        proc = subprocess.run(PREFIX + [WATCH, "4000000000"], cwd=self.dir, env=environment(),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(proc.returncode, 2)
        self.assertIn("there is no process", proc.stderr.decode("utf-8"))


if __name__ == "__main__":
    unittest.main()
