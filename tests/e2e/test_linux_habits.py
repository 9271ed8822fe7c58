"""Habits of POSIX users: answering questions from a script, the Windows
pipe namespace refused, detection-only runs, lists of inputs."""

import os
import subprocess
import unittest

from ordana_run import GERMAN, ON_WINDOWS, ORDANA, PREFIX, ScratchTestCase, posix_only, text
from test_inputs import CONVERT, converted, source


class HabitsTestCase(ScratchTestCase):
    def make(self, *names):
        for name in names:
            os.makedirs(os.path.dirname(self.path(name)) or self.dir, exist_ok=True)
            self.write(name, source(os.path.basename(name)))

    def feed(self, args, keys=None, env_extra=None, shell_input=None, timeout=60):
        """Runs ordana with `keys` on standard input (a pipe); returns
        (exit code, stdout text, stderr text)."""
        env = dict(os.environ)
        for name in ("LC_ALL", "LC_MESSAGES", "LANG"):
            env.pop(name, None)
        env.update(env_extra or {})
        proc = subprocess.run(PREFIX + [ORDANA] + list(args), cwd=self.dir, input=keys,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                              env=env)
        return proc.returncode, text(proc.stdout), text(proc.stderr)

    def leftovers(self):
        found = []
        for root, _, files in os.walk(self.dir):
            found += [f for f in files if f.startswith("odn") and f.endswith(".tmp")]
        return found


@posix_only("the English letters and the limit on wrong answers are the POSIX build's")
class ScriptedAnswersTest(HabitsTestCase):
    def yes_pipe(self, word, env_extra):
        """`yes WORD | ordana d`, in a shell, with a time limit: a loop would
        fail the test by the timeout instead of hanging it."""
        env = dict(os.environ)
        for name in ("LC_ALL", "LC_MESSAGES", "LANG"):
            env.pop(name, None)
        env.update(env_extra)
        command = "yes %s | %s d %s" % (word, " ".join(PREFIX + [ORDANA]), " ".join(CONVERT))
        proc = subprocess.run(["sh", "-c", command], cwd=self.dir, env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        return proc.returncode, text(proc.stdout + proc.stderr)

    def test_yes_pipe_ends_in_every_language(self):
        # (word fed by yes, environment, exit code, converted?, times asked)
        cases = [
            ("y", GERMAN, 0, True, 1),
            ("Y", GERMAN, 0, True, 1),
            ("j", GERMAN, 0, True, 1),
            ("J", GERMAN, 0, True, 1),
            ("n", GERMAN, 5, False, 1),
            ("N", GERMAN, 5, False, 1),
            ("y", {}, 0, True, 1),
            ("n", {}, 5, False, 1),
            ("vielleicht", GERMAN, 5, False, 2),
            ("maybe", {}, 5, False, 2),
        ]
        for word, env, code, done, asked in cases:
            with self.subTest(word=word, german=bool(env)):
                self.make(os.path.join("d", "a.txt"))
                got, out = self.yes_pipe(word, env)
                self.assertEqual(got, code, out)
                if done:
                    self.assertEqual(self.read("d/a.txt"), converted("a.txt"))
                else:
                    self.assertEqual(self.read("d/a.txt"), source("a.txt"))
                self.assertEqual(out.count("(J/N)? " if env else "(Y/N)? "), asked, out)
                self.assertEqual(self.leftovers(), [])

    def test_wrong_answer_then_right_one_is_taken(self):
        self.make(os.path.join("d", "a.txt"))
        code, out, err = self.feed(["d"] + CONVERT, keys=b"x\nj\n", env_extra=GERMAN)
        self.assertEqual(code, 0, out + err)
        self.assertEqual(self.read("d/a.txt"), converted("a.txt"))

    def test_two_wrong_answers_are_no_and_say_so(self):
        for keys, env, said in ((b"x\nz\nj\n", GERMAN, "Keine gültige Antwort"),
                                (b"\n\ny\n", {}, "No valid answer"),
                                (b"\r\n\r\ny\r\n", {}, "No valid answer")):
            with self.subTest(keys=keys):
                self.make(os.path.join("d", "a.txt"))
                code, out, err = self.feed(["d"] + CONVERT, keys=keys, env_extra=env)
                self.assertEqual(code, 5, out + err)
                self.assertIn(said, out + err)
                self.assertEqual(self.read("d/a.txt"), source("a.txt"))

    def test_crlf_answers_are_one_answer_each(self):
        self.make(os.path.join("d", "a.txt"))
        code, out, err = self.feed(["d", "all.out"] + CONVERT, keys=b"y\r\ny\r\n")
        self.assertEqual(code, 0, out + err)
        self.assertEqual(self.read("all.out"), converted("a.txt"))


@posix_only("Windows' pipe namespace is a device there")
class WindowsPipeNameTest(HabitsTestCase):
    def test_pipe_names_are_refused_and_create_nothing(self):
        self.write("a.txt", source("a.txt"))
        pipe = "\\\\.\\pipe\\mypipe"
        # (arguments, environment, words the message must contain)
        cases = [
            (["a.txt", pipe], {}, ["Windows pipe name", "FIFO", "mkfifo"]),
            ([pipe, "out.txt"], {}, ["Windows pipe name", "FIFO"]),
            (["a.txt", "\\\\.\\PIPE\\x"], GERMAN, ["Windows-Pipe-Name", "FIFO"]),
        ]
        for args, env, words in cases:
            with self.subTest(args=args):
                code, out, err = self.feed(args + CONVERT, env_extra=env)
                self.assertEqual(code, 3, out + err)
                for word in words:
                    self.assertIn(word, out + err)
                self.assertEqual(sorted(os.listdir(self.dir)), ["a.txt"])
                self.assertEqual(self.read("a.txt"), source("a.txt"))


class MessagesInBothLanguagesTest(HabitsTestCase):
    """Messages that had an English text only now have a German one."""

    def test_refusals_in_english_and_german(self):
        self.write("a.txt", source("a.txt"))
        missing_log = os.path.join(self.dir, "no-such-dir", "x.log")
        long_name = "x" * 300
        # (arguments, environment, exit code, text the messages contain)
        cases = [
            (["/log=" + missing_log, "a.txt", "b.txt"], {}, 0, "Log file can not be created: "),
            (["/log=" + missing_log, "a.txt", "b.txt"], GERMAN, 0,
             "Protokolldatei kann nicht angelegt werden: "),
            ([long_name], {}, 3, "Error: The input path is too long (at most 259 characters): "),
            ([long_name], GERMAN, 3, "Fehler: Der Eingabepfad ist zu lang (höchstens 259 Zeichen): "),
            (["a.txt", "/output=" + long_name], GERMAN, 3, "Fehler: Der Ausgabepfad ist zu lang"),
        ]
        for args, env, code, said in cases:
            with self.subTest(args=args[0][:20], german=bool(env)):
                got, out, err = self.feed(args + CONVERT, env_extra=env)
                self.assertEqual(got, code, out + err)
                self.assertIn(said, out + err)
                self.assertEqual(self.read("a.txt"), source("a.txt"))


    def test_details_and_traces_in_english_and_german(self):
        # UTF-8 with a malformed pair (c3 28) and a euro sign that Latin-1
        # lacks: the detection, the input, both codecs and the filter trace
        # speak.
        self.write("u.txt", "café ça € ".encode("utf-8") + b"\xc3(")
        english = ["Detected SCS: UTF-8 (Analyzed ", "Input: ", "File opened, Size: 16 Bytes",
                   "UTF-8: Malformed 2 Byte sequence c3 28", "UTF-8: Decoding errors: 1",
                   "DSC(0): Encoding of U+20ac", "DCS(0): Encoding errors: 2",
                   "Enabled: 1", "Forwarding (", "Flushing (", "Removed Last Filter \"NUL Filter\"",
                   "stat files"]
        german = ["Erkannter Quell-Zeichensatz: UTF-8 (", "Eingabe: ",
                  "Datei geöffnet, Größe: 16 Bytes", "UTF-8: Fehlerhafte 2-Byte-Sequenz c3 28",
                  "UTF-8: Dekodierfehler: 1", "DSC(0): Kodierung von U+20ac",
                  "DCS(0): Kodierfehler: 2", "aktiv: 1", "Weitergabe (", "Leeren (",
                  "Letzten Filter \"NUL Filter\" entfernt", "Statistikdateien gefunden"]
        for env, present, absent in (({}, english, german), (GERMAN, german, english)):
            with self.subTest(german=bool(env)):
                got, out, err = self.feed(["u.txt", "out.txt", "/o", "latin1", "/loglevel=5"],
                                          env_extra=env)
                self.assertEqual(got, 0, out + err)
                for said in present:
                    self.assertIn(said, out + err)
                for said in absent:
                    self.assertNotIn(said, out + err)


@posix_only("--files-from is a spelling of the Linux build")
class FilesFromTest(HabitsTestCase):
    ODD = ["a b.txt", "-lead.txt", "new\nline.txt", "sub/x y.txt", "tab\there.txt"]

    def make_odd(self):
        for name in self.ODD:
            os.makedirs(os.path.dirname(self.path(name)) or self.dir, exist_ok=True)
            self.write(name, source(os.path.basename(name)))

    def test_nul_separated_list_on_standard_input_in_place(self):
        self.make_odd()
        self.write("left.txt", source("left.txt"))
        keys = b"".join(n.encode() + b"\0" for n in self.ODD)
        code, out, err = self.feed(["--files-from=-", "--null"] + CONVERT, keys=keys)
        self.assertEqual(code, 0, out + err)
        self.assertIn("%d files were processed." % len(self.ODD), out + err)
        for name in self.ODD:
            self.assertEqual(self.read(name), converted(os.path.basename(name)), name)
        self.assertEqual(self.read("left.txt"), source("left.txt"))
        self.assertEqual(self.leftovers(), [])

    def test_line_list_from_a_file_into_a_directory_and_appended(self):
        self.make_odd()
        plain = [n for n in self.ODD if "\n" not in n]
        self.write("list", b"".join(n.encode() + b"\n" for n in plain))
        os.mkdir(self.path("out"))
        code, out, err = self.feed(["--files-from", "list"] + CONVERT + ["out"])
        self.assertEqual(code, 0, out + err)
        self.assertEqual(sorted(os.listdir(self.path("out"))),
                         sorted(os.path.basename(n) for n in plain))
        for name in plain:
            self.assertEqual(self.read(os.path.join("out", os.path.basename(name))),
                             converted(os.path.basename(name)))
            self.assertEqual(self.read(name), source(os.path.basename(name)))
        # One output file: after the question, every input appended.
        for answer, code_wanted in ((b"y\n", 0), (b"n\n", 6)):
            with self.subTest(answer=answer):
                code, out, err = self.feed(["--files-from=list"] + CONVERT + ["all.out"],
                                           keys=answer)
                self.assertEqual(code, code_wanted, out + err)
        expected = b"".join(converted(os.path.basename(n)) for n in plain)
        self.assertEqual(self.read("all.out"), expected)

    def test_refusals_and_unreadable_entries(self):
        self.write("a.txt", source("a.txt"))
        self.write("list", b"a.txt\nmissing.txt\n")
        code, out, err = self.feed(["--files-from=list"] + CONVERT)
        self.assertEqual(code, 4, out + err)
        self.assertEqual(self.read("a.txt"), converted("a.txt"))
        code, out, err = self.feed(["--files-from=no-list"] + CONVERT)
        self.assertEqual(code, 4, out + err)
        self.assertIn("list of inputs", out + err)
        code, out, err = self.feed(["--files-from=list", "a.txt", "b.txt"] + CONVERT)
        self.assertEqual(code, 3, out + err)
        self.assertFalse(os.path.exists(self.path("b.txt")))


@posix_only("the README's recipe for several cores uses sh, find and xargs")
class ParallelRecipeTest(HabitsTestCase):
    def test_readme_recipe_converts_a_tree_on_two_processes(self):
        names = ["d%d/f %d.txt" % (k % 3, k) for k in range(30)] + ["d0/-dash.txt"]
        for name in names:
            os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
            self.write(name, source(os.path.basename(name)))
        binary = " ".join(PREFIX + [ORDANA])
        # The README's recipe, with the test's conversion options.
        recipe = ("find tree -type f -name '*.txt' -print0 | xargs -0 -P2 -n 7 sh -c "
                  "'printf \"%%s\\0\" \"$@\" | \"$0\" --files-from=- --null -q %s' %s"
                  % (" ".join(CONVERT), binary))
        os.mkdir(self.path("tree"))
        for entry in ("d0", "d1", "d2"):
            os.rename(self.path(entry), self.path("tree", entry))
        proc = subprocess.run(["sh", "-c", recipe], cwd=self.dir, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(proc.returncode, 0, text(proc.stdout + proc.stderr))
        for name in names:
            self.assertEqual(self.read(os.path.join("tree", name)),
                             converted(os.path.basename(name)), name)
        self.assertEqual(self.leftovers(), [])


if __name__ == "__main__":
    unittest.main()
