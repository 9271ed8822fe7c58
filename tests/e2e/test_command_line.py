"""What the command line names: character set names, options, paths and the
report files. A command line that cannot mean what it says is refused before
any file is created, opened for writing or converted."""

import os
import subprocess
import unittest

from ordana_run import ORDANA, PREFIX, ON_WINDOWS, ScratchTestCase, posix_only, text

SAMPLE = "Grüße, café – 10 €\n"


def unknown_option_name():
    """A word like a mistyped option that names nothing under the root. A
    program that took it for a path would create it there: remove it then,
    so that one failing run cannot make later runs pass."""
    name = "/ordana-no-such-option-%d-%d" % (os.getpid(), next(_counter))
    unittest.addModuleCleanup(lambda: os.path.lexists(name) and os.remove(name))
    return name


_counter = iter(range(1 << 30))


class CharsetNameTest(ScratchTestCase):
    def convert(self, source, destination, data, *extra):
        self.write("in.txt", data)
        code, out = self.run_ordana("in.txt", "out.txt", "/i", source, "/o", destination,
                                    "/nobom", *extra)
        return code, out

    def test_everyday_names_convert_like_the_names_they_stand_for(self):
        # (name given, the name it means, text that set can hold)
        cases = [
            ("UTF-16LE", "utf-16", SAMPLE),
            ("UTF16LE", "utf-16", SAMPLE),
            ("UCS-2", "utf-16", SAMPLE),
            ("UTF-32LE", "utf-32", SAMPLE),
            ("utf_8", "utf-8", SAMPLE),
            ("IBM850", "DOS-850", "Grüße, café\n"),
            ("IBM437", "DOS-437", "Grüße, café\n"),
            ("IBM866", "DOS-866", "Привет, мир\n"),
            ("MACINTOSH", "Apple-Roman", "Grüße, café\n"),
            ("MACROMAN", "Apple-Roman", "Grüße, café\n"),
            ("ISO8859-15", "ISO-8859-15", "Grüße, café 10 €\n"),
            ("ISO_8859-15", "ISO-8859-15", "Grüße, café 10 €\n"),
            ("koi8_r", "KOI8-R", "Привет, мир\n"),
            ("CP037", "EBCDIC-37", "Hello, World\n"),
            ("WIN1252", "Windows-1252", SAMPLE),
        ]
        for name, meant, sample in cases:
            with self.subTest(name=name):
                code, out = self.convert("utf-8", meant, sample.encode("utf-8"))
                self.assertEqual(code, 0, text(out))
                expected = self.read("out.txt")
                code, out = self.convert("utf-8", name, sample.encode("utf-8"))
                self.assertEqual(code, 0, text(out))
                self.assertEqual(self.read("out.txt"), expected)
                # And back, as the source.
                self.write("back.txt", expected)
                code, out = self.run_ordana("back.txt", "round.txt", "/i", name, "/o", "utf-8",
                                            "/nobom")
                self.assertEqual(code, 0, text(out))
                self.assertEqual(self.read("round.txt").decode("utf-8"), sample)

    def test_the_reported_case_writes_utf16le_not_latin1(self):
        self.write("kz.txt", "Қазақстан\n".encode("utf-8"))
        code, out = self.run_ordana("kz.txt", "/i", "utf-8", "/o", "UTF-16LE")
        self.assertEqual(code, 0, text(out))
        self.assertEqual(self.read("kz.txt"), "\ufeffҚазақстан\n".encode("utf-16-le"))

    def test_unknown_names_are_refused_and_nothing_is_touched(self):
        original = SAMPLE.encode("utf-8")
        cases = [
            (["/i", "utf-9", "/o", "utf-8"], 1, "unknown source character set \"utf-9\"", "utf-8"),
            (["/i", "utf-8", "/o", "UTF-16XE"], 2, "unknown destination character set \"UTF-16XE\"",
             "utf-16"),
            (["/scs=windows-12522"], 1, "unknown source character set", "Windows-1252"),
            (["/dcs=latin-11"], 2, "unknown destination character set", "Latin-1"),
            (["/dcs=qqqqqqqqqqq"], 2, "unknown destination character set", None),
        ]
        for args, code_expected, message, suggestion in cases:
            with self.subTest(args=args):
                self.write("in.txt", original)
                code, out = self.run_ordana("in.txt", *args)
                said = text(out)
                self.assertEqual(code, code_expected, said)
                self.assertIn(message, said)
                self.assertIn("ordana /listall", said)
                if suggestion:
                    self.assertIn(suggestion, said)
                self.assertEqual(self.read("in.txt"), original)
                self.assertEqual(sorted(os.listdir(self.dir)), ["in.txt"])

    def test_ascii_is_read_but_never_written(self):
        self.write("in.txt", b"plain text\n")
        code, out = self.run_ordana("in.txt", "out.txt", "/i", "US-ASCII", "/o", "utf-16", "/nobom")
        self.assertEqual(code, 0, text(out))
        self.assertEqual(self.read("out.txt"), "plain text\n".encode("utf-16-le"))
        code, out = self.run_ordana("in.txt", "/i", "utf-8", "/o", "ASCII")
        self.assertEqual(code, 2)
        self.assertIn("can only be read", text(out))
        self.assertEqual(self.read("in.txt"), b"plain text\n")

    def test_every_listed_name_is_accepted(self):
        code, out = self.run_ordana("/listall")
        self.assertEqual(code, 0)
        listing = text(out)
        if not ON_WINDOWS:
            self.assertNotIn("\r", listing)
        names = [line for line in listing.splitlines() if line]
        self.assertGreater(len(names), 180)
        self.write("in.txt", b"abc\n")
        for name in names:
            with self.subTest(name=name):
                code, out = self.run_ordana("in.txt", "out.txt", "/i", name, "/o", "utf-8")
                self.assertEqual(code, 0, text(out))


class OptionTest(ScratchTestCase):
    @posix_only("a path of one part under the POSIX root")
    def test_mistyped_option_is_refused_not_written_under_the_root(self):
        name = unknown_option_name()
        self.write("e.txt", b"abc")
        code, out = self.run_ordana("e.txt", "/o", "utf-8", name)
        self.assertEqual(code, 3)
        self.assertIn("unknown option " + name, text(out))
        self.assertIn("ordana /?" if ON_WINDOWS else "ordana --help", text(out))
        self.assertFalse(os.path.exists(name))
        self.assertEqual(self.read("e.txt"), b"abc")

    def test_option_without_its_value_is_refused(self):
        for args in (["a.txt", "/o"], ["a.txt", "/i"], ["a.txt", "/csv"], ["a.txt", "/eol"],
                     ["a.txt", "/scs="], ["a.txt", "/policy"]):
            with self.subTest(args=args):
                self.write("a.txt", b"abc")
                code, out = self.run_ordana(*args)
                self.assertEqual(code, 3)
                self.assertIn("needs a value", text(out))
                self.assertEqual(self.read("a.txt"), b"abc")
                self.assertEqual(os.listdir(self.dir), ["a.txt"])

    def test_empty_argument_is_refused(self):
        self.write("b.txt", b"keep")
        for args in (["", "b.txt"], ["b.txt", ""]):
            with self.subTest(args=args):
                code, out = self.run_ordana(*args, "/o", "utf-8")
                self.assertEqual(code, 3)
                self.assertIn("empty argument", text(out))
                self.assertEqual(self.read("b.txt"), b"keep")

    def test_more_arguments_than_the_table_holds_are_refused(self):
        self.write("in.txt", b"abc")
        args = ["in.txt"] + ["/y"] * 98 + ["out.txt"]  # 100 arguments
        code, out = self.run_ordana(*args)
        self.assertEqual(code, 3)
        self.assertIn("more than 99 arguments", text(out))
        self.assertEqual(self.read("in.txt"), b"abc")
        self.assertFalse(os.path.exists(self.path("out.txt")))
        code, out = self.run_ordana(*(["in.txt"] + ["/y"] * 97 + ["out.txt", "/i", "utf-16"]))
        self.assertEqual(code, 3)  # 101: still refused
        code, out = self.run_ordana(*(["in.txt"] + ["/y"] * 97 + ["out.txt"]))  # 99
        self.assertEqual(code, 0, text(out))
        self.assertTrue(os.path.exists(self.path("out.txt")))

    @posix_only("-- ends the options on POSIX command lines")
    def test_double_dash_makes_what_follows_paths(self):
        os.mkdir(self.path("sub"))
        self.write("sub/in.txt", b"abc")
        code, out = self.run_ordana("/i", "utf-8", "/o", "utf-16", "--", self.path("sub", "in.txt"),
                                    self.path("sub", "out.txt"))
        self.assertEqual(code, 0, text(out))
        self.assertEqual(self.read("sub/out.txt"), "\ufeffabc".encode("utf-16-le"))


class MessageTextTest(ScratchTestCase):
    def test_required_time_is_a_line_of_its_own(self):
        # The time is the program's own text: its line end must not be shown
        # escaped like a control character of a file name.
        self.write("a.txt", b"abc\n")
        code, out = self.run_ordana("a.txt", "b.txt", "/i", "utf-8", "/o", "utf-8", "/loglevel=2")
        self.assertEqual(code, 0)
        said = text(out)
        self.assertNotIn("\\r\\n", said)
        self.assertRegex(said, r"Required time: \d+\.\d{3} (ms|seconds|minutes)\r?\n")


class ReportFileTest(ScratchTestCase):
    def test_report_files_naming_the_input_or_output_are_refused(self):
        cases = [
            (["p.txt", "q.txt", "/csv", "p.txt"], "CSV report"),
            (["p.txt", "q.txt", "/csv", "q.txt"], "CSV report"),
            (["p.txt", "/csv", "./p.txt"], "CSV report"),
            (["p.txt", "q.txt", "/log=p.txt"], "log file"),
            (["p.txt", "q.txt", "/logto", "q.txt"], "log file"),
            (["p.txt", "q.txt", "/log=r.log", "/csv", "r.log"], "CSV report"),
        ]
        for args, what in cases:
            with self.subTest(args=args):
                self.write("p.txt", b"input")
                self.write("q.txt", b"older output")
                code, out = self.run_ordana(*args, "/i", "utf-8", "/o", "utf-16")
                self.assertEqual(code, 3, text(out))
                self.assertIn("the " + what, text(out))
                self.assertEqual(self.read("p.txt"), b"input")
                self.assertEqual(self.read("q.txt"), b"older output")
                self.assertEqual(sorted(os.listdir(self.dir)), ["p.txt", "q.txt"])

    def test_refused_command_line_leaves_report_files_alone(self):
        self.write("in.txt", b"abc")
        self.write("r.csv", b"earlier report")
        self.write("run.log", b"earlier log")
        for args in (["/o", "nosuchset"], [unknown_option_name()], ["/o"]):
            with self.subTest(args=args):
                code, _ = self.run_ordana("in.txt", "/csv", "r.csv", "/log=run.log", *args)
                self.assertIn(code, (2, 3))
                self.assertEqual(self.read("r.csv"), b"earlier report")
                self.assertEqual(self.read("run.log"), b"earlier log")
                self.assertEqual(self.read("in.txt"), b"abc")

    @posix_only("closing a standard descriptor before exec")
    def test_closed_standard_input_never_lends_its_number_to_the_log(self):
        # With descriptor 0 closed the log file would be opened as 0, and the
        # standard input converted would be the log itself.
        proc = subprocess.run(PREFIX + [ORDANA, "\\\\.\\CONIN$", "out.txt", "/i", "utf-8", "/o",
                                        "utf-8", "/nobom", "/log=run.log"],
                              cwd=self.dir, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60,
                              preexec_fn=lambda: os.close(0))
        self.assertEqual(proc.returncode, 0, proc.stdout)
        self.assertEqual(self.read("out.txt"), b"")
        self.assertIn("Character set", self.read_log("run.log"))


if __name__ == "__main__":
    unittest.main()
