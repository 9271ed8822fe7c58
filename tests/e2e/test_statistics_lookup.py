"""Where the program finds its statistics files: next to itself first, then in
../share/ordana/stats relative to itself (the installed layout), and what it
says when there are none. Each test copies the built program into a scratch
tree laid out like an installation."""

import os
import shutil
import subprocess

from ordana_run import GERMAN, ORDANA, PREFIX, ScratchTestCase, posix_only

SOURCE_DIR = os.environ.get("ORDANA_SOURCE_DIR",
                            os.path.join(os.path.dirname(__file__), "..", ".."))
STATS = os.path.join(SOURCE_DIR, "data", "stats")
SAMPLES = os.path.join(SOURCE_DIR, "data", "samples")
NO_FILES_EN = "No statistics files (*.dat) were found in "
NO_FILES_DE = "Keine Statistikdateien (*.dat) gefunden in "


def sample(name):
    with open(os.path.join(SAMPLES, name), "rb") as f:
        return f.read()


KOI8R = sample("russian-koi8-r.txt")
UTF8 = sample("russian-utf-8.txt")


@posix_only("the installed layout bin/ + share/ordana/stats is the POSIX build's")
class StatisticsLookupTest(ScratchTestCase):
    def setUp(self):
        super().setUp()
        self.root = self.path("prefix")
        self.bindir = os.path.join(self.root, "bin")
        self.share = os.path.join(self.root, "share", "ordana", "stats")
        os.makedirs(self.bindir)
        os.makedirs(self.share)
        self.program = os.path.join(self.bindir, "ordana")
        shutil.copy2(ORDANA, self.program)
        self.work = self.path("work")
        os.mkdir(self.work)

    def place(self, directory, *names):
        for name in names:
            shutil.copy2(os.path.join(STATS, name), os.path.join(directory, name))

    def convert(self, names, *options, env_extra=None):
        """Converts the inputs (written with KOI8-R text) into out/ as UTF-8
        without a byte order mark; returns (exit code, every message)."""
        for name in names:
            with open(os.path.join(self.work, name), "wb") as f:
                f.write(KOI8R)
        os.makedirs(os.path.join(self.work, "out"), exist_ok=True)
        pattern = names[0] if len(names) == 1 else "*.txt"
        env = {k: v for k, v in os.environ.items() if k not in ("LC_ALL", "LC_MESSAGES", "LANG")}
        env.update(env_extra or {})
        proc = subprocess.run(PREFIX + [self.program, pattern, "out", "/o", "utf-8", "/nobom", "/y"]
                              + list(options), cwd=self.work, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        return proc.returncode, proc.stdout.decode("utf-8", "replace")

    def output(self, name):
        with open(os.path.join(self.work, "out", name), "rb") as f:
            return f.read()

    def test_files_beside_the_program_win_over_the_installed_ones(self):
        # Each directory holds one set only, so the decoded text tells which
        # directory was read.
        cases = [
            # (beside, installed, expected UTF-8, directory named at level 2)
            (["koi8-r.dat"], ["windows-1251.dat"], UTF8, "bin"),
            (["windows-1251.dat"], ["koi8-r.dat"], KOI8R.decode("cp1251").encode("utf-8"), "bin"),
            ([], ["koi8-r.dat"], UTF8, "share"),
        ]
        for beside, installed, expected, used in cases:
            with self.subTest(beside=beside, installed=installed):
                for directory in (self.bindir, self.share):
                    for name in os.listdir(directory):
                        if name.endswith(".dat"):
                            os.remove(os.path.join(directory, name))
                self.place(self.bindir, *beside)
                self.place(self.share, *installed)
                code, messages = self.convert(["ru.txt"], "/loglevel=2")
                self.assertEqual(code, 0, messages)
                self.assertEqual(self.output("ru.txt"), expected, messages)
                where = self.bindir if used == "bin" else self.share
                self.assertIn("Using the statistics files in %s\n" % where, messages.replace("\r\n", "\n"))
                self.assertIn("Found 1 stat files", messages)
                self.assertNotIn(NO_FILES_EN, messages)

    def test_a_directory_without_usable_files_does_not_count(self):
        # A .dat file beside the program that is no statistics file (a
        # user's own data) does not stop the search.
        with open(os.path.join(self.bindir, "notes.dat"), "wb") as f:
            f.write(b"not statistics\n")
        self.place(self.share, "koi8-r.dat", "windows-1252.dat", "iso-8859-15.dat")
        code, messages = self.convert(["ru.txt"], "/loglevel=2")
        self.assertEqual(code, 0, messages)
        self.assertEqual(self.output("ru.txt"), UTF8, messages)
        self.assertIn("Using the statistics files in %s" % self.share, messages)
        self.assertIn("Found 3 stat files", messages)

    def test_the_whole_installed_set_detects_the_sample(self):
        self.place(self.share, *sorted(n for n in os.listdir(STATS) if n.endswith(".dat")))
        code, messages = self.convert(["ru.txt"])
        self.assertEqual(code, 0, messages)
        self.assertEqual(self.output("ru.txt"), UTF8, messages)
        self.assertNotIn(NO_FILES_EN, messages)

    def test_no_statistics_anywhere_is_said_once_per_run(self):
        names = ["a.txt", "b.txt", "c.txt", "d.txt", "e.txt"]
        cases = [
            # (options, environment, message expected, how often)
            ([], None, NO_FILES_EN, 1),
            (["/loglevel=2"], None, NO_FILES_EN, 1),
            ([], GERMAN, NO_FILES_DE, 1),
            (["/loglevel=0"], None, NO_FILES_EN, 0),
            (["/s"], None, NO_FILES_EN, 0),
        ]
        for options, env, message, count in cases:
            with self.subTest(options=options, env=env):
                code, messages = self.convert(names, *options, env_extra=env)
                self.assertEqual(code, 0, messages)
                self.assertEqual(messages.count(message), count, messages)
                if count:
                    # Both directories that were searched are named.
                    line = messages[messages.index(message):].splitlines()[0]
                    self.assertIn("%s, %s" % (self.bindir, self.share), line)
                # Without statistics the text is read as ISO-8859-15.
                for name in names:
                    self.assertEqual(self.output(name), KOI8R.decode("iso8859-15").encode("utf-8"))

    def test_no_message_when_the_statistics_are_not_needed(self):
        # Inputs that the marks, zero patterns or UTF-8 decide never reach
        # the statistics; the missing files do not matter to them.
        for name, data in [("utf8.txt", UTF8), ("bom.txt", b"\xff\xfeA\x00"),
                           ("utf16.txt", "abc".encode("utf-16-le"))]:
            with open(os.path.join(self.work, name), "wb") as f:
                f.write(data)
        os.makedirs(os.path.join(self.work, "out"))
        proc = subprocess.run(PREFIX + [self.program, "*.txt", "out", "/o", "utf-8", "/y"],
                              cwd=self.work, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=120)
        messages = proc.stdout.decode("utf-8", "replace")
        self.assertEqual(proc.returncode, 0, messages)
        self.assertEqual(len(os.listdir(os.path.join(self.work, "out"))), 3, messages)
        self.assertNotIn(NO_FILES_EN, messages)
