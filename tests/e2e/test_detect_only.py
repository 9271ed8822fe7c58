"""Detection-only runs (--detect, /detect): one line "PATH: NAME" per input on
standard output, the set a conversion would read the input as; nothing is
converted, created or changed."""

import codecs
import os
import subprocess
import unittest

from ordana_run import (ON_WINDOWS, ORDANA, PREFIX, ScratchTestCase, posix_only, run_streams,
                        text, windows_only)

SOURCE_DIR = os.environ.get("ORDANA_SOURCE_DIR",
                            os.path.join(os.path.dirname(__file__), "..", ".."))
FAULT_LIBRARY = os.environ.get("ORDANA_FAULT_LIBRARY", "")

with open(os.path.join(SOURCE_DIR, "data", "samples", "russian-koi8-r.txt"), "rb") as _f:
    KOI8R = _f.read()

WESTERN = ("Le café de la gare « ouvre » à huit heures — “très tôt”, dit-on; "
           "le menu coûte 12 € et la crème brûlée est déjà prête. Über die Straße "
           "geht’s zur Bäckerei, wo Brötchen für 2 € liegen.\r\n") * 3

# The mixed directory: file name -> (bytes, the set --detect names, the
# decoder Python reads the same bytes with).
MIXED = {
    "utf8.txt": ("Grüße aus Köln, привет из Москвы\n".encode("utf-8"), "utf-8", "utf-8"),
    "utf16.txt": ("Grüße, привет\r\n".encode("utf-16"), "utf-16", "utf-16"),
    "koi8r.txt": (KOI8R, "KOI8-R", "koi8-r"),
    "western.txt": (WESTERN.encode("cp1252"), "Windows-1252", "cp1252"),
    "ascii.txt": (b"plain ASCII text, nothing else\n", "ISO-8859-15", "iso8859-15"),
}


def result_lines(out):
    """The lines of standard output (CR LF on Windows)."""
    return [line.rstrip("\r") for line in text(out).split("\n") if line.rstrip("\r")]


class DetectTestCase(ScratchTestCase):
    def make_mixed(self, directory="mixed"):
        os.makedirs(self.path(directory), exist_ok=True)
        for name, (data, _, _) in MIXED.items():
            self.write(os.path.join(directory, name), data)

    def snapshot(self):
        """Every file below the scratch directory: bytes and time stamps."""
        files = {}
        for root, dirs, names in os.walk(self.dir):
            for name in names + dirs:
                path = os.path.join(root, name)
                st = os.lstat(path)
                data = None
                if os.path.isfile(path) and not os.path.islink(path):
                    with open(path, "rb") as f:
                        data = f.read()
                files[os.path.relpath(path, self.dir)] = (data, st.st_mtime_ns, st.st_mode)
        return files

    def detect(self, *args, stdin=None, env_extra=None):
        """(exit code, stdout lines, stderr text); with `stdin` bytes on a pipe."""
        env = dict(os.environ)
        for name in ("LC_ALL", "LC_MESSAGES", "LANG"):
            env.pop(name, None)
        env.update(env_extra or {})
        proc = subprocess.Popen(PREFIX + [ORDANA] + list(args), cwd=self.dir, env=env,
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        out, err = proc.communicate(stdin if stdin is not None else b"", timeout=120)
        if not ON_WINDOWS and os.path.isdir("/dev/shm"):
            suffix = ".%X" % proc.pid
            names = [n for n in os.listdir("/dev/shm") if "Quennel.Ordana" in n and n.endswith(suffix)]
            self.assertEqual(names, [], "a detection opened the status channel")
        return proc.returncode, result_lines(out), text(err)


class DetectMixedDirectoryTest(DetectTestCase):
    def expected(self, prefix):
        return sorted("%s%s: %s" % (prefix, name, name_of)
                      for name, (_, name_of, _) in MIXED.items())

    @posix_only("--detect is a GNU spelling; stdout carries nothing but the results")
    def test_every_way_of_naming_the_inputs(self):
        self.make_mixed()
        sep = os.sep
        cases = [
            # (arguments, the prefix of each result's path)
            (["--detect", "mixed"], "mixed" + sep),
            (["/detect", "mixed" + sep], "mixed" + sep),
            (["--detect", "mixed/*.txt"], "mixed" + sep),
            (["--detect", "./mixed/*.TXT"], "./mixed" + sep),
            (["mixed/*", "/DETECT"], "mixed" + sep),
            (["--detect", self.path("mixed")], self.path("mixed") + sep),
            # As the shell expands mixed/*: every path is an input.
            (["--detect"] + ["mixed/" + n for n in sorted(MIXED)], "mixed/"),
        ]
        for args, prefix in cases:
            with self.subTest(args=args):
                before = self.snapshot()
                code, lines, err = self.detect(*args)
                self.assertEqual(code, 0, err)
                self.assertEqual(sorted(lines), self.expected(prefix))
                self.assertEqual(err, "")
                self.assertEqual(self.snapshot(), before)

    @posix_only("a converted file is compared with its input decoded by Python")
    def test_the_named_set_is_the_one_the_conversion_reads(self):
        self.make_mixed()
        code, lines, err = self.detect("--detect", "mixed")
        self.assertEqual(code, 0, err)
        named = dict(line.split(": ", 1) for line in lines)
        os.mkdir(self.path("out"))
        for name, (data, _, _) in MIXED.items():
            with self.subTest(name=name):
                code, _, err = run_streams(["mixed/" + name, "out/" + name, "-t", "utf-8",
                                            "--no-bom"], cwd=self.dir)
                self.assertEqual(code, 0, err)
                codec = codecs.lookup(named["mixed/" + name])
                self.assertEqual(self.read("out/" + name).decode("utf-8"),
                                 data.decode(codec.name).lstrip("\ufeff"))

    def test_slash_spelling_names_every_file(self):
        # Both builds: the results are lines of standard output (on Windows
        # among the messages, as the listings are).
        self.make_mixed()
        before = self.snapshot()
        code, out, err = run_streams(["mixed\\*.txt" if ON_WINDOWS else "mixed/*.txt", "/detect"],
                                     cwd=self.dir)
        self.assertEqual(code, 0, err)
        lines = result_lines(out)
        for name, (_, name_of, _) in MIXED.items():
            self.assertIn("mixed%s%s: %s" % ("\\" if ON_WINDOWS else "/", name, name_of), lines)
        self.assertEqual(self.snapshot(), before)

    @posix_only("mtime and the walk rules' messages on stderr")
    def test_nothing_is_touched_and_skips_are_messages(self):
        self.make_mixed()
        self.write("mixed/picture.png", b"\x89PNG\r\n\x1a\n" + bytes(range(256)))
        os.mkdir(self.path("mixed", "sub"))
        self.write("mixed/sub/deep.txt", KOI8R)
        os.chmod(self.path("mixed", "koi8r.txt"), 0o444)
        past = 1_000_000_000
        for name in MIXED:
            os.utime(self.path("mixed", name), ns=(past, past))
        before = self.snapshot()
        code, lines, err = self.detect("--detect", "-r", "--log-level=2", "mixed",
                                       "--csv=report.csv", "-t", "utf-8")
        self.assertEqual(code, 0, err)
        self.assertEqual(sorted(lines), sorted(self.expected("mixed/") + ["mixed/sub/deep.txt: KOI8-R"]))
        self.assertIn("picture.png", err)  # skipped, and said so on stderr
        self.assertIn("Detected SCS KOI8-R", err)
        self.assertEqual(self.snapshot(), before)  # no CSV report, no temporary, no output
        for name in MIXED:
            self.assertEqual(os.stat(self.path("mixed", name)).st_mtime_ns, past)


@windows_only("- is a file's name there")
class DetectDashOnWindowsTest(DetectTestCase):
    def test_dash_is_a_file(self):
        self.write("-", KOI8R)
        code, lines, err = self.detect("/detect", "-", stdin=b"")
        self.assertEqual(code, 0, err)
        self.assertIn("-: KOI8-R", lines)


@posix_only("--verbose and --detect are GNU spellings")
class DetectVerboseTest(DetectTestCase):
    def test_runners_up_with_their_scores(self):
        self.make_mixed()
        for spelling in (["--detect", "--verbose"], ["/detect", "/verbose"]):
            with self.subTest(spelling=spelling):
                code, lines, err = self.detect(*spelling, "mixed/koi8r.txt")
                self.assertEqual(code, 0, err)
                self.assertEqual(lines[0], "mixed/koi8r.txt: KOI8-R")
                self.assertEqual(lines[1], "  basis: statistics")
                scored = []
                for line in lines[2:]:
                    self.assertTrue(line.startswith("  "), line)
                    name, score = line.strip().rsplit(": ", 1)
                    scored.append((name, float(score)))
                self.assertEqual(scored[0][0], "KOI8-R (CYRL)")  # the choice first
                self.assertEqual(len(scored), 6)  # and five runners-up
                runners = [s for _, s in scored[1:]]
                self.assertEqual(runners, sorted(runners, reverse=True))
                self.assertGreater(scored[0][1], runners[0])
                self.assertEqual(len({n for n, _ in scored}), 6)
                # The level-2 message names the best set that decodes the
                # text differently, with the same scores.
                code, _, err = self.detect(*spelling, "--log-level=2", "mixed/koi8r.txt")
                message = [m for m in err.splitlines() if m.startswith("Runner-up: ")]
                self.assertEqual(len(message), 1, err)
                runner, behind = message[0][len("Runner-up: "):].split(", ")
                scores = dict(scored)
                self.assertIn(runner, scores)
                self.assertAlmostEqual(float(behind.split()[0]), scores["KOI8-R (CYRL)"] - scores[runner],
                                       delta=0.002)

    def test_other_bases_and_a_given_set(self):
        self.make_mixed()
        cases = [
            # (arguments, result line, basis line)
            (["mixed/utf16.txt"], "mixed/utf16.txt: utf-16", "  basis: byte-order-mark"),
            (["mixed/utf8.txt"], "mixed/utf8.txt: utf-8", "  basis: utf-8"),
            (["mixed/ascii.txt"], "mixed/ascii.txt: ISO-8859-15", "  basis: fallback"),
            (["-f", "koi8-u", "mixed/utf8.txt"], "mixed/utf8.txt: KOI8-U", "  basis: given"),
            (["/i", "latin1", "mixed/koi8r.txt"], "mixed/koi8r.txt: ISO-8859-1", "  basis: given"),
        ]
        for args, result, basis in cases:
            with self.subTest(args=args):
                code, lines, err = self.detect("--detect", "--verbose", *args)
                self.assertEqual(code, 0, err)
                self.assertEqual(lines, [result, basis])


@posix_only("--detect, - for standard input and LD_PRELOAD faults")
class DetectInputsTest(DetectTestCase):
    def test_standard_input(self):
        cases = [
            # (argument, input, line)
            ("-", KOI8R, "-: KOI8-R"),
            ("-", WESTERN.encode("cp1252"), "-: Windows-1252"),
            ("/dev/stdin", "ok ✓\n".encode("utf-8"), "/dev/stdin: utf-8"),
            ("\\\\.\\CONIN$", "x".encode("utf-16"), "\\\\.\\CONIN$: utf-16"),
            ("-", b"", "-: ISO-8859-15"),
        ]
        for argument, data, line in cases:
            with self.subTest(argument=argument, line=line):
                code, lines, err = self.detect("--detect", argument, stdin=data)
                self.assertEqual(code, 0, err)
                self.assertEqual(lines, [line])

    def test_stdin_in_small_pieces_is_decided_on_all_of_it(self):
        # The first piece alone is ASCII (the fallback); the whole is KOI8-R,
        # as a conversion of the same pipe decides.
        script = ("import sys, time\n"
                  "data = sys.stdin.buffer.read()\n"
                  "for k in range(0, len(data), 4096):\n"
                  "    sys.stdout.buffer.write(data[k:k + 4096]); sys.stdout.flush(); time.sleep(0.001)\n")
        feeder = subprocess.Popen(["python3", "-c", script], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE)
        proc = subprocess.Popen(PREFIX + [ORDANA, "--detect", "-"], stdin=feeder.stdout,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=self.dir)
        feeder.stdout.close()
        feeder.stdin.write(b"plain words first " * 400 + KOI8R)
        feeder.stdin.close()
        out, err = proc.communicate(timeout=60)
        feeder.wait(timeout=60)
        self.assertEqual(proc.returncode, 0, err)
        self.assertEqual(result_lines(out), ["-: KOI8-R"])

    def test_unreadable_inputs_exit_4_and_the_rest_is_named(self):
        self.make_mixed()
        cases = [
            # (arguments, result lines, what stderr names)
            (["mixed/koi8r.txt", "missing.txt", "mixed/utf8.txt"],
             ["mixed/koi8r.txt: KOI8-R", "mixed/utf8.txt: utf-8"], "missing.txt"),
            (["nowhere/*.txt"], [], "nowhere"),
            (["--files-from=absent.list"], [], "absent.list"),
        ]
        for args, expected, named in cases:
            with self.subTest(args=args):
                code, lines, err = self.detect("--detect", *args)
                self.assertEqual(code, 4, err)
                self.assertEqual(lines, expected)
                self.assertIn(named, err)
                self.assertIn("failed", err)

    @unittest.skipUnless(FAULT_LIBRARY and os.path.exists(FAULT_LIBRARY),
                         "the fault-injection library was not built (ORDANA_FAULT_LIBRARY)")
    def test_a_read_error_exits_4(self):
        self.make_mixed()
        before = self.snapshot()
        code, lines, err = self.detect(
            "--detect", "mixed/koi8r.txt", "mixed/utf8.txt",
            env_extra={"LD_PRELOAD": FAULT_LIBRARY, "ORDANA_FAULT_PATH": "koi8r.txt",
                       "ORDANA_FAULT_READ_FAIL": "1",
                       "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") +
                       ":verify_asan_link_order=0"})
        self.assertEqual(code, 4, err)
        self.assertEqual(lines, ["mixed/utf8.txt: utf-8"])
        self.assertIn("Input error for %s" % self.path("mixed", "koi8r.txt"), err)
        self.assertEqual(self.snapshot(), before)

    def test_a_list_of_inputs(self):
        self.make_mixed()
        names = ["mixed/koi8r.txt", "mixed/utf16.txt"]
        code, lines, err = self.detect("--detect", "--files-from=-", "--null",
                                       stdin=b"\0".join(n.encode() for n in names))
        self.assertEqual(code, 0, err)
        self.assertEqual(lines, ["mixed/koi8r.txt: KOI8-R", "mixed/utf16.txt: utf-16"])

    def test_odd_names_are_escaped_and_messages_stay_off_stdout(self):
        self.make_mixed()
        self.write("mixed/line\nbreak.txt", KOI8R)
        code, lines, err = self.detect("--detect", "--log-level=2", "mixed/line\nbreak.txt")
        self.assertEqual(code, 0, err)
        self.assertEqual(lines, ["mixed/line\\nbreak.txt: KOI8-R"])
        self.assertIn("Detected SCS KOI8-R", err)


if __name__ == "__main__":
    unittest.main()
