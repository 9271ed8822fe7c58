"""What people and parsers read: the CSV report and the log with hostile or
undecodable file names, and one report shared by parallel runs."""

import os
import subprocess

from ordana_run import NL, ORDANA, PREFIX, ScratchTestCase, environment, posix_only, shown, text

CONTROL_NAME = "a\tb\nc\x1b[31md\re.txt"
CONTROL_SHOWN = "a\\tb\\nc\\x1b[31md\\re.txt"


def bom_body(data):
    """A UTF-16LE report: its one byte order mark, then the text, decoded
    strictly (a lone surrogate raises)."""
    assert data[:2] == b"\xff\xfe", data[:8]
    return data[2:].decode("utf-16-le", "strict")


def csv_records(data):
    body = bom_body(data)
    assert body.endswith("\r\n"), body[-20:]
    return [line.split("\t") for line in body[:-2].split("\r\n")]


class ReportTestCase(ScratchTestCase):
    def assert_seven_fields(self, records, count):
        self.assertEqual(len(records), count, records)
        for fields in records:
            self.assertEqual(len(fields), 7, fields)
            self.assertRegex(fields[1], r"^\d+$")
            self.assertRegex(fields[6], r"^\d+$")


@posix_only("file names with control characters and bytes that are not UTF-8")
class HostileNameTest(ReportTestCase):
    def test_control_characters_are_escaped_in_csv_log_and_console(self):
        self.write(CONTROL_NAME, "x\n".encode("utf-16-le"))
        before = self.read(CONTROL_NAME)
        code, out = self.run_ordana(CONTROL_NAME, "out.txt", "/i", "utf-16", "/o", "utf-8",
                                    "/csv", "r.csv", "/log=run.log", "/loglevel=2")
        self.assertEqual(code, 0)
        self.assertEqual(self.read("out.txt"), b"\xef\xbb\xbfx\n")
        self.assertEqual(self.read(CONTROL_NAME), before)
        records = csv_records(self.read("r.csv"))
        self.assert_seven_fields(records, 1)
        # Quoted, the control characters escaped: one line of seven fields.
        self.assertEqual(records[0][0], '"%s"' % self.path(CONTROL_SHOWN))
        log = self.read_log("run.log")
        self.assertNotIn("\x1b", log)
        self.assertIn(CONTROL_SHOWN, log)
        for line in log.split(NL)[:-1]:
            self.assertRegex(line, r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{4} \(\d\): ")

        # The same name on the console.
        code, out = self.run_ordana(CONTROL_NAME, "out2.txt", "/i", "utf-16", "/o", "utf-8")
        self.assertEqual(code, 0)
        shown_out = text(out)
        self.assertNotIn("\x1b", shown_out)
        self.assertNotIn("\t", shown_out)
        self.assertIn(self.path(CONTROL_SHOWN) + NL, shown_out)

    def test_name_that_is_not_utf8_is_u_fffd_in_log_and_csv(self):
        name = os.fsencode(self.path("caf")) + b"\xe9\xff.txt"
        with open(name, "wb") as f:
            f.write("d\u00e9j\u00e0".encode("utf-16-le"))
        code, out = self.run_ordana(os.fsdecode(name), "/i", "utf-16", "/o", "utf-8", "/nobom",
                                    "/csv", "r.csv", "/log=run.log", "/loglevel=2")
        self.assertEqual(code, 0)
        # The file itself, found and converted under its exact bytes.
        with open(name, "rb") as f:
            self.assertEqual(f.read(), "d\u00e9j\u00e0".encode("utf-8"))
        records = csv_records(self.read("r.csv"))
        self.assert_seven_fields(records, 1)
        self.assertEqual(records[0][0], self.path("caf") + "\ufffd\ufffd.txt")
        log = self.read_log("run.log")
        self.assertIn(self.path("caf") + "\ufffd\ufffd.txt", log)


class LogTextTest(ReportTestCase):
    def test_a_lone_surrogate_of_the_text_is_u_fffd_in_the_log(self):
        # Under the loose policy a lone surrogate reaches the encoder, which
        # cannot write it in ISO-8859-1 and says so with its code point.
        self.write("in.txt", "a".encode("utf-16-le") + b"\x00\xd8" + "b".encode("utf-16-le"))
        code, _ = self.run_ordana("in.txt", "out.txt", "/i", "utf-16", "/o", "iso-8859-1",
                                  "/policy=loose", "/log=run.log", "/loglevel=2")
        self.assertEqual(code, 0)
        log = self.read_log("run.log")
        self.assertRegex(log, r"U\+d800 \(\ufffd\)")


class ParallelReportTest(ReportTestCase):
    @posix_only("many processes at once; slow under an emulator")
    def test_parallel_runs_into_one_report_lose_no_line(self):
        runs, files = 6, 25
        expected = set()
        for r in range(runs):
            os.mkdir(self.path("in%d" % r))
            os.mkdir(self.path("out%d" % r))
            for f in range(files):
                name = os.path.join("in%d" % r, "f%02d.txt" % f)
                self.write(name, ("run %d file %d\n" % (r, f)).encode("utf-16-le"))
                expected.add(self.shown(name))
        procs = [subprocess.Popen(PREFIX + [ORDANA, os.path.join("in%d" % r, "*.txt"), "out%d" % r,
                                            "/i", "utf-16", "/o", "utf-8", "/csv", "shared.csv"],
                                  cwd=self.dir, env=environment(), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                 for r in range(runs)]
        for proc in procs:
            self.assertEqual(proc.wait(timeout=120), 0)
        data = self.read("shared.csv")
        self.assertEqual(data.count(b"\xff\xfe"), 1)  # one byte order mark, at the start
        records = csv_records(data)
        self.assert_seven_fields(records, runs * files)
        self.assertEqual(sorted(fields[0] for fields in records), sorted(expected))
        # Another run appends to the report.
        code, _ = self.run_ordana(os.path.join("in0", "f00.txt"), "again.txt", "/i", "utf-16",
                                  "/o", "utf-8", "/csv", "shared.csv")
        self.assertEqual(code, 0)
        records = csv_records(self.read("shared.csv"))
        self.assert_seven_fields(records, runs * files + 1)
        self.assertEqual(records[-1][0], self.shown("in0", "f00.txt"))
