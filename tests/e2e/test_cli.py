"""The command line: usage, exit codes, messages and the log."""

import os
import re
import subprocess
import unittest

from ordana_run import (COPY, NL, ON_WINDOWS, ORDANA, PREFIX, ScratchTestCase, nl, posix_only,
                        run_streams, shown, text, utf16)

BANNER = "Ordana 2.0.17.8\r\n\r\n"
USAGE_EN = "Usage: ordana <input file(s)> [options] [output]\r\n\r\n"
USAGE_DE = "Verwendung: ordana <Quelldatei(en)> [Optionen] [Ausgabe]\r\n\r\n"
STAMP = r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,0\d{3} \((\d)\): "


class UsageTest(ScratchTestCase):
    def test_usage_is_printed_and_exits_zero(self):
        for args in ([], ["/?"], ["/xml"], ["/nobom", "/?", "missing.txt"]):
            with self.subTest(args=args):
                code, out = self.run_ordana(*args)
                self.assertEqual(code, 0)
                out = text(out)
                self.assertTrue(out.startswith(nl(BANNER + USAGE_EN + "Options:\r\n")), out[:200])
                self.assertIn(nl("/csv <file>\tCreates a csv file with conversion status information\r\n"
                                 "\r\nExamples:\r\n\r\n"), out)
                self.assertIn(nl("ordana.exe my.txt /i iso8859-1 /o utf-8\r\n"), out)
                self.assertNotIn("files were processed", out)

    def test_usage_in_german(self):
        # Wine takes the Windows user's interface language from LC_ALL.
        first = {"LC_ALL": "de_DE.UTF-8"} if ON_WINDOWS else {"LANG": "de_DE.UTF-8"}
        for lang in (first, {"LC_ALL": "de_AT.UTF-8", "LANG": "en_US.UTF-8"}):
            with self.subTest(env=lang):
                code, out = self.run_ordana("/?", env_extra=lang)
                self.assertEqual(code, 0)
                out = text(out)
                self.assertTrue(out.startswith(nl(BANNER + USAGE_DE + "Optionen:\r\n")))
                self.assertIn("Standardantwort ist \"nein\" für alle Fragen", out)

    @posix_only("the POSIX build reads the language from LC_ALL, LC_MESSAGES and LANG")
    def test_english_when_the_first_set_variable_is_not_german(self):
        code, out = self.run_ordana("/?", env_extra={"LC_MESSAGES": "C", "LANG": "de_DE.UTF-8"})
        self.assertIn(nl(USAGE_EN), text(out))

    def test_usage_to_a_file(self):
        # UTF-16 without a byte order mark on Windows; UTF-8 on POSIX, where
        # grep and less read it.
        with open(self.path("help.txt"), "wb") as f:
            code, _ = self.run_ordana("/?", stdout=f)
        self.assertEqual(code, 0)
        data = self.read("help.txt")
        self.assertFalse(data.startswith(b"\xff\xfe"))
        self.assertTrue((utf16(data) if ON_WINDOWS else text(data)).startswith(nl(BANNER + USAGE_EN)))


@posix_only("the GNU spellings, --help and --version are the POSIX build's")
class GnuInterfaceTest(ScratchTestCase):
    def test_help_and_version_go_to_standard_output(self):
        for args, start in ((["--help"], "Usage: ordana [OPTION]... INPUT [OUTPUT]\n"),
                            (["-h"], "Usage: ordana [OPTION]... INPUT [OUTPUT]\n"),
                            (["--version"], "ordana 2.0.17.8\n")):
            with self.subTest(args=args):
                code, out, err = run_streams(args, cwd=self.dir)
                self.assertEqual(code, 0)
                self.assertTrue(text(out).startswith(start), text(out)[:100])
                self.assertEqual(err, b"")
        code, out, _ = run_streams(["--help"], cwd=self.dir, env_extra={"LANG": "de_DE.UTF-8"})
        self.assertTrue(text(out).startswith("Verwendung: ordana [OPTION]... EINGABE [AUSGABE]\n"))

    def test_short_and_long_spellings_convert_like_the_slash_options(self):
        data = "Grüße\r\n".encode("cp1252")
        self.write("in.txt", data)
        code, out = self.run_ordana("in.txt", "slash.txt", "/i", "windows-1252", "/o", "utf-8",
                                    "/nobom", "/eol=unix")
        self.assertEqual(code, 0, text(out))
        for args in (["-f", "windows-1252", "-t", "utf-8", "--no-bom", "--eol", "unix",
                      "-o", "gnu.txt", "in.txt"],
                     ["--from=windows-1252", "--to=utf-8", "--no-bom", "--eol=unix",
                      "--output=gnu.txt", "in.txt"]):
            with self.subTest(args=args):
                code, out = self.run_ordana(*args)
                self.assertEqual(code, 0, text(out))
                self.assertEqual(self.read("gnu.txt"), self.read("slash.txt"))
                self.assertEqual(self.read("gnu.txt"), "Grüße\n".encode("utf-8"))

    def test_dash_is_standard_input_and_output_in_a_pipeline(self):
        data = "Привет\n".encode("koi8-r")
        proc = subprocess.run(PREFIX + [ORDANA, "-f", "koi8-r", "-t", "utf-8", "--no-bom", "-", "-"],
                              input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              cwd=self.dir, timeout=60)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(proc.stdout, "Привет\n".encode("utf-8"))
        self.assertEqual(os.listdir(self.dir), [])

    def test_unknown_dash_options_are_refused_with_a_hint(self):
        self.write("a.txt", b"abc")
        for args in (["a.txt", "-x"], ["a.txt", "--frmo=utf-8"], ["-rf", "a.txt"]):
            with self.subTest(args=args):
                code, out = self.run_ordana(*args)
                self.assertEqual(code, 3)
                self.assertIn("unknown option", text(out))
                self.assertIn("ordana --help", text(out))
                self.assertEqual(self.read("a.txt"), b"abc")
                self.assertEqual(os.listdir(self.dir), ["a.txt"])

    def test_listing_goes_to_standard_output_even_with_a_log(self):
        code, out, err = run_streams(["--log=run.log", "--list"], cwd=self.dir)
        self.assertEqual(code, 0)
        self.assertTrue(text(out).startswith("UTF-16\nUTF-16BE\n"))
        self.assertEqual(err, b"")


class ConversionMessagesTest(ScratchTestCase):
    def test_plain_run_prints_exactly_four_lines(self):
        src = self.write("a.txt", b"p\x00\n\x00")
        code, out = self.run_ordana(*COPY, "a.txt", "b.txt", "/scs=UTF16")
        self.assertEqual(code, 0)
        self.assertEqual(text(out), nl("Character set: utf-16 => utf-16\r\n" + shown(src) + "\r\n\r\n1 file was processed.\r\n"))

    def test_missing_input_is_reported_and_creates_no_output(self):
        code, out = self.run_ordana(*COPY, "missing.txt", "out.txt")
        self.assertEqual(code, 4)  # a named input that does not exist is a failed input
        out = text(out)
        self.assertIn("Input error for " + self.shown("missing.txt") + ": ", out)
        self.assertTrue(out.endswith(nl("0 files were processed.\r\n1 input failed.\r\n")), out)
        self.assertFalse(os.path.exists(self.path("out.txt")))

    def test_missing_input_leaves_an_existing_output_alone(self):
        self.write("out.txt", b"precious")
        self.run_ordana(*COPY, "missing.txt", "out.txt")
        self.assertEqual(self.read("out.txt"), b"precious")

    def test_trace_at_level_five(self):
        self.write("a.txt", b"abcd")
        code, out = self.run_ordana(*COPY, "a.txt", "b.txt", "/loglevel=5")
        out = text(out)
        self.assertIn(nl("Filter (4 Bytes) in \"UTF-16 Input Filter\", Enabled: 1\r\n"), out)
        self.assertIn(nl("Filter (4 Bytes) in \"UTF-16 Output Filter\", Enabled: 1\r\n"
                         "Filtering skipped, forwarding (4 Bytes)...\r\n"), out)
        self.assertIn(nl("Forwarding (4 Bytes) to \"File Persistence Filter\", Enabled: 0\r\n"), out)
        self.assertIn("Required time: ", out)

    def test_level_zero_prints_nothing(self):
        self.write("a.txt", b"abcd")
        code, out = self.run_ordana(*COPY, "a.txt", "b.txt", "/loglevel", "0")
        self.assertEqual((code, out), (0, b""))
        self.assertEqual(self.read("b.txt"), b"abcd")

    def test_silent_mode_prints_nothing(self):
        self.write("a.txt", b"abcd")
        for flag in ("/s", "/silent", "/S"):
            with self.subTest(flag=flag):
                code, out = self.run_ordana(*COPY, flag, "a.txt", "b.txt", "/loglevel=5")
                self.assertEqual((code, out), (0, b""))
                self.assertEqual(self.read("b.txt"), b"abcd")

    def test_console_output_carries_only_the_converted_bytes(self):
        data = bytes(range(256)) * 3
        self.write("a.bin", data)
        devices = ["\\\\.\\CONOUT$", "\\\\.\\conout$"]
        if not ON_WINDOWS:
            devices.append("/dev/stdout")
        for device in devices:
            with self.subTest(device=device):
                code, out = self.run_ordana(*COPY, "a.bin", device)
                self.assertEqual(code, 0)
                self.assertEqual(out, data)

    def test_console_input_to_a_file(self):
        proc_input = b"from  the pipe\r\n"
        with open(self.write("in.txt", proc_input), "rb") as f:
            code, out = self.run_ordana(*COPY, "\\\\.\\CONIN$", "out.txt", stdin=f)
        self.assertEqual(code, 0)
        self.assertEqual(self.read("out.txt"), proc_input)
        self.assertIn("\\\\.\\CONIN$" + NL, text(out))


class LogFileTest(ScratchTestCase):
    def test_log_goes_to_ordana_log_with_time_stamps(self):
        self.write("a.txt", b"abcd")
        code, out = self.run_ordana(*COPY, "a.txt", "b.txt", "/log")
        self.assertEqual((code, out), (0, b""))
        log = self.read_log("ordana.log")
        lines = log.split(NL)
        self.assertEqual(lines[-1], "")
        stamped = [l for l in lines if re.match(STAMP, l)]
        self.assertGreaterEqual(len(stamped), 6)
        bodies = [re.sub(STAMP, "", l) for l in stamped]
        self.assertIn("Character set: utf-16 => utf-16", bodies)
        self.assertTrue(any(b.startswith("Input: " + self.shown("a.txt") + ", Output: ") for b in bodies))
        self.assertIn("File opened, Size: 4 Bytes", bodies)
        self.assertTrue(any(b.startswith("Required time: ") for b in bodies))
        self.assertIn("1 file was processed.", bodies)
        self.assertFalse(any("Filter (" in b for b in bodies))

    def test_logto_and_log_equals(self):
        self.write("a.txt", b"abcd")
        cases = [(["/logto", "my.log"], "my.log"), (["/log=\"other.log\""], "other.log"),
                 (["/logto"], "ordana.log")]
        if ON_WINDOWS:
            # Quotes inside an argument reach a Windows program escaped;
            # test_windows types this one on a command line of its own.
            del cases[1]
        for args, name in cases:
            with self.subTest(args=args):
                code, out = self.run_ordana(*COPY, "a.txt", "b.txt", *args)
                self.assertEqual((code, out), (0, b""))
                self.assertIn("1 file was processed.", self.read_log(name))

    def test_level_order_with_log(self):
        self.write("a.txt", b"abcd")
        self.run_ordana(*COPY, "a.txt", "b.txt", "/log", "/loglevel=5")
        self.assertIn("Filter (4 Bytes) in \"UTF-16 Input Filter\"", self.read_log("ordana.log"))
        self.run_ordana(*COPY, "a.txt", "b.txt", "/loglevel=5", "/log")
        self.assertNotIn("Filter (", self.read_log("ordana.log"))

    def test_kinds_in_the_prefix(self):
        self.run_ordana(*COPY, "missing.txt", "b.txt", "/log")
        log = self.read_log("ordana.log")
        match = re.search(STAMP + "Input error for ", log)
        self.assertIsNotNone(match, log)
        self.assertEqual(match.group(1), "2")

    def test_log_with_silent_mode_still_logs(self):
        self.write("a.txt", b"abcd")
        code, out = self.run_ordana(*COPY, "/s", "a.txt", "b.txt", "/log")
        self.assertEqual((code, out), (0, b""))
        self.assertIn("1 file was processed.", self.read_log("ordana.log"))

    def test_console_output_with_a_log_stays_out_of_the_log(self):
        # Converted text goes to the real standard output, messages into
        # the log: the two never mix.
        data = "ZQZQZ".encode("utf-16-le")
        self.write("a.txt", data)
        code, out = self.run_ordana(*COPY, "a.txt", "\\\\.\\CONOUT$", "/log")
        self.assertEqual((code, out), (0, data))
        log = self.read_log("ordana.log")
        self.assertNotIn("ZQZQZ", log)
        self.assertIn("1 file was processed.", log)

    def test_unwritable_log_file_is_reported_and_the_run_goes_on(self):
        self.write("a.txt", b"abcd")
        code, out = self.run_ordana(*COPY, "a.txt", "b.txt", "/log=" + self.path("no", "such", "dir.log"))
        self.assertEqual(code, 0)
        out = text(out)
        self.assertTrue(out.startswith("Log file can not be created: "), out)
        self.assertIn("1 file was processed.", out)
        self.assertEqual(self.read("b.txt"), b"abcd")


class RefusalTest(ScratchTestCase):
    @posix_only("only a POSIX shell expands patterns before the program runs")
    def test_shell_expanded_pattern_never_overwrites_a_file(self):
        for name in ("a.txt", "b.txt", "c.txt"):
            self.write(name, name.encode())
        code, out = self.run_ordana(*COPY, "a.txt", "b.txt", "c.txt")
        self.assertEqual(code, 3)
        self.assertIn("3 paths were given", text(out))
        for name in ("a.txt", "b.txt", "c.txt"):
            self.assertEqual(self.read(name), name.encode())

    def test_too_long_values_are_refused(self):
        cases = [["a.txt", "x" * 260], ["/scs=" + "u" * 32, "a.txt"], ["a" * 300]]
        for args in cases:
            with self.subTest(args=[a[:12] for a in args]):
                code, out = self.run_ordana(*args)
                self.assertEqual(code, 3)
                self.assertIn("too long", text(out))

    @posix_only("Windows has no current directory longer than MAX_PATH")
    def test_too_long_qualified_path_is_refused(self):
        deep = self.path(*(["d" * 50] * 5))
        os.makedirs(deep)
        with open(os.path.join(deep, "a.txt"), "wb") as f:
            f.write(b"abcd")
        code, out = self.run_ordana(*COPY, "a.txt", cwd=deep)
        self.assertEqual(code, 3)
        self.assertIn("too long", text(out))
        with open(os.path.join(deep, "a.txt"), "rb") as f:
            self.assertEqual(f.read(), b"abcd")


if __name__ == "__main__":
    unittest.main()
