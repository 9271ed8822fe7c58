"""Inputs and outputs: patterns, directories, recursion, appending, prompts."""

import os
import signal
import subprocess
import time
import unittest

from ordana_run import (GERMAN, ON_WINDOWS, ORDANA, PREFIX, ScratchTestCase, nl, posix_only, run,
                        shm_files, text)

# Every test converts UTF-16BE to UTF-16LE with a byte order mark, so a
# converted file is told apart from an untouched one.
CONVERT = ["/scs=utf-16be", "/dcs=utf-16"]
Q110 = "Do you really want to convert all files in \"%s\" (Y/N)? "
Q111 = "Do you really want \"%s\" to be a destination for multiple input files (Y/N)? "


def source(name):
    return name.encode("utf-16-be")


def converted(name):
    return b"\xff\xfe" + name.encode("utf-16-le")


class InputsTestCase(ScratchTestCase):
    def make(self, *names):
        for name in names:
            os.makedirs(os.path.dirname(self.path(name)) or self.dir, exist_ok=True)
            self.write(name, source(os.path.basename(name)))

    def assertConverted(self, name, original=None):
        self.assertEqual(self.read(name), converted(original or os.path.basename(name)), name)

    def assertUntouched(self, name):
        self.assertEqual(self.read(name), source(os.path.basename(name)), name)

    def convert(self, *args, **kwargs):
        return self.run_ordana(*(list(args) + CONVERT), **kwargs)

    def answer(self, keys, *args, env_extra=None):
        """Runs with `keys` on standard input; returns the exit code and what
        the user sees (the questions among the messages)."""
        code, out = run(list(args) + CONVERT, cwd=self.dir, input=keys, env_extra=env_extra,
                        timeout=60)
        return code, text(out)

    def listing(self):
        result = []
        for root, dirs, files in os.walk(self.dir):
            for name in files:
                result.append(os.path.relpath(os.path.join(root, name), self.dir))
        return sorted(result)


class PatternTest(InputsTestCase):
    def test_pattern_converts_matches_in_place(self):
        self.make("a.txt", "B.TXT", "c.dat", "a.txt.bak")
        code, out = self.convert("*.txt")
        self.assertEqual(code, 0)
        self.assertTrue(text(out).endswith(nl("\r\n2 files were processed.\r\n")))
        self.assertConverted("a.txt")
        self.assertConverted("B.TXT")
        self.assertUntouched("c.dat")
        self.assertUntouched("a.txt.bak")
        self.assertEqual(self.listing(), ["B.TXT", "a.txt", "a.txt.bak", "c.dat"])

    def test_question_mark_and_star_dot_star(self):
        self.make("a1.txt", "a22.txt", "noext")
        self.convert("a?.txt")
        self.assertConverted("a1.txt")
        self.assertUntouched("a22.txt")
        code, out = self.convert(self.path("*.*"))
        self.assertIn("3 files were processed.", text(out))
        self.assertConverted("noext")

    def test_no_match_is_no_error(self):
        self.make("a.dat")
        code, out = self.convert("*.txt")
        self.assertEqual(code, 0)
        self.assertTrue(text(out).endswith(nl("\r\n\r\n0 files were processed.\r\n")))

    def test_pattern_in_a_missing_directory(self):
        code, out = self.convert(os.path.join("nodir", "*.txt"))
        self.assertEqual(code, 4)  # a pattern's directory that does not exist fails
        self.assertIn(nl("Error: Path \"%s\" could not be found!\r\n") % self.shown("nodir"), text(out))
        self.assertIn("0 files were processed.", text(out))

    def test_pattern_into_an_output_directory(self):
        self.make("a.txt", "b.txt")
        os.mkdir(self.path("out"))
        code, out = self.convert("*.txt", "out")
        self.assertIn("2 files were processed.", text(out))
        self.assertUntouched("a.txt")
        self.assertConverted(os.path.join("out", "a.txt"))
        self.assertConverted(os.path.join("out", "b.txt"))

    def test_output_directory_that_is_the_input_directory_means_in_place(self):
        self.make("a.txt")
        os.symlink(self.dir, self.path("alias"))
        for output in (".", self.dir + "/", "alias"):
            with self.subTest(output=output):
                self.make("a.txt")
                code, out = self.convert("*.txt", output)
                self.assertEqual(code, 0)
                self.assertConverted("a.txt")
                self.assertEqual(self.listing(), ["a.txt"])

    def test_missing_output_directory_written_with_a_slash(self):
        self.make("a.txt")
        code, out = self.convert("*.txt", "newdir/")
        self.assertEqual(code, 3)
        self.assertUntouched("a.txt")
        self.assertFalse(os.path.exists(self.path("newdir")))

    def test_environment_variables_are_expanded(self):
        self.make(os.path.join("sub", "a.txt"))
        code, out = self.run_ordana(*(["%ORDANA_TEST_DIR%/a.txt"] + CONVERT),
                                    env_extra={"ORDANA_TEST_DIR": self.path("sub")})
        self.assertEqual(code, 0, out)
        self.assertConverted(os.path.join("sub", "a.txt"))

    def test_names_that_are_not_utf8_round_trip(self):
        name = b"caf\xe9.txt"
        with open(os.path.join(self.dir.encode(), name), "wb") as f:
            f.write(source("x"))
        code, out = self.convert("*.txt")
        self.assertIn("1 file was processed.", text(out))
        self.assertEqual(os.listdir(self.dir.encode()), [name])
        with open(os.path.join(self.dir.encode(), name), "rb") as f:
            self.assertEqual(f.read(), converted("x"))

    @posix_only("a dangling symbolic link")
    def test_input_that_fails_to_open_leaves_nothing_behind(self):
        self.make("good.txt")
        os.symlink("missing-target", self.path("bad.txt"))
        code, out = self.convert("*.txt")
        out = text(out)
        self.assertIn("Input error for " + self.path("bad.txt"), out)
        self.assertIn("1 file was processed.", out)
        self.assertConverted("good.txt")
        self.assertEqual(sorted(os.listdir(self.dir)), ["bad.txt", "good.txt"])

    def test_device_output_receives_every_match(self):
        self.make("a.txt", "b.txt")
        code, out = self.convert("*.txt", "\\\\.\\CONOUT$")
        self.assertEqual(code, 0)
        self.assertEqual(sorted([out[:len(converted("a.txt"))], out[len(converted("a.txt")):]]),
                         [converted("a.txt"), converted("b.txt")])

    def test_too_long_path_in_a_walk_is_skipped(self):
        deep = os.path.join(*(["d" * 60] * 4))
        self.make(os.path.join(deep, "x" * 20 + ".txt"), "short.txt")
        code, out = self.convert("*.txt", "/r")
        out = text(out)
        # Not every input was converted: the run says so in its exit code.
        self.assertEqual(code, 4)
        self.assertIn("too long", out)
        self.assertIn("1 file was processed.", out)
        self.assertIn("1 input failed.", out)
        self.assertConverted("short.txt")
        self.assertUntouched(os.path.join(deep, "x" * 20 + ".txt"))


class RecursionTest(InputsTestCase):
    def test_recursive_in_place(self):
        self.make("a.txt", os.path.join("s1", "b.txt"), os.path.join("s1", "s2", "c.txt"),
                  os.path.join("s1", "s2", "d.dat"))
        code, out = self.convert("*.txt", "/r")
        self.assertIn("3 files were processed.", text(out))
        for name in ("a.txt", "s1/b.txt", "s1/s2/c.txt"):
            self.assertConverted(name)
        self.assertUntouched("s1/s2/d.dat")

    def test_without_r_subdirectories_are_ignored(self):
        self.make("a.txt", os.path.join("s1", "b.txt"))
        self.convert("*.txt")
        self.assertUntouched("s1/b.txt")

    def test_recursive_into_output_directory_inside_the_tree(self):
        self.make("a.txt", os.path.join("s1", "b.txt"))
        os.mkdir(self.path("out"))
        code, out = self.convert("*.txt", "out", "/r")
        self.assertIn("2 files were processed.", text(out))
        self.assertUntouched("a.txt")
        self.assertUntouched("s1/b.txt")
        self.assertConverted("out/a.txt")
        self.assertConverted("out/s1/b.txt")
        self.assertFalse(os.path.exists(self.path("out", "out")))

    def test_links_to_directories_are_not_followed(self):
        self.make(os.path.join("s1", "b.txt"))
        os.symlink("..", self.path("s1", "loop"))
        code, out = self.convert("*.txt", "/r")
        self.assertEqual(code, 0)
        self.assertIn("1 file was processed.", text(out))


class AppendTest(InputsTestCase):
    def test_append_with_y_gives_each_part_its_own_mark(self):
        self.make("a.txt", "b.txt", "c.txt")
        code, out = self.convert("*.txt", "all.out", "/y")
        self.assertEqual(code, 0)
        self.assertIn("3 files were processed.", text(out))
        order = [n for n in os.listdir(self.dir) if n.endswith(".txt")]
        if ON_WINDOWS:
            order.sort()  # Wine lists a directory sorted by name, as NTFS does
        expected = b"".join(converted(n) for n in order)
        self.assertEqual(self.read("all.out"), expected)
        for name in ("a.txt", "b.txt", "c.txt"):
            self.assertUntouched(name)

    def test_the_output_file_is_not_appended_to_itself(self):
        self.make("a.txt", "b.txt")
        self.write("all.txt", source("old"))
        code, out = self.convert("*.txt", "all.txt", "/y")
        self.assertIn("Skipped " + self.shown("all.txt") + ": it is the output file.", text(out))
        self.assertIn("2 files were processed.", text(out))
        data = self.read("all.txt")
        self.assertEqual(len(data), len(converted("a.txt")) * 2)

    def test_no_answer_ends_with_exit_6_and_no_output(self):
        self.make("a.txt")
        code, out = self.convert("*.txt", "all.out", "/y-")
        self.assertEqual(code, 6)
        self.assertIn(nl("Output may not be a file for multiple input.\r\n"), text(out))
        self.assertFalse(os.path.exists(self.path("all.out")))

    def test_silent_mode_answers_yes(self):
        self.make("a.txt")
        code, out = self.convert("*.txt", "all.out", "/s")
        self.assertEqual((code, out), (0, b""))
        self.assertEqual(self.read("all.out"), converted("a.txt"))


class PromptTest(InputsTestCase):
    def test_wrong_key_then_lower_case_yes(self):
        self.make("a.txt")
        code, out = self.answer(b"x\ny\n", "*.txt", "all.out")
        self.assertEqual(code, 0)
        question = Q111 % "all.out"
        # x, its line end, then y: asked three times on Windows; on POSIX the
        # line end closing the answer x is not asked about again.
        self.assertEqual(out.count(question), 3 if ON_WINDOWS else 2)
        self.assertEqual(self.read("all.out"), converted("a.txt"))

    def test_german_answer_letter(self):
        self.make("a.txt")
        code, out = self.answer(b"j", "*.txt", "all.out", env_extra=GERMAN)
        self.assertEqual(code, 0)
        self.assertIn("Soll \"all.out\" wirklich als Zielort", out)
        self.assertIn("Es wurde 1 Datei verarbeitet.", out)
        code, out = self.answer(b"y", "*.txt", "all2.out", env_extra=GERMAN)
        if ON_WINDOWS:
            self.assertEqual(code, 6)  # Y means nothing in German; the input then ends: no
        else:
            self.assertEqual(code, 0)  # the English letters answer in every language

    def test_directory_input_yes_converts_everything_in_place(self):
        self.make(os.path.join("d", "a.txt"), os.path.join("d", "b.dat"))
        code, out = self.answer(b"Y", "d")
        self.assertEqual(code, 0)
        self.assertIn(Q110 % "d", out)
        self.assertConverted("d/a.txt")
        self.assertConverted("d/b.dat")

    def test_directory_input_no(self):
        self.make(os.path.join("d", "a.txt"))
        for keys, args in ((b"n", []), (b"", []), (b"", ["/y-"])):
            with self.subTest(keys=keys, args=args):
                code, out = self.answer(keys, "d", *args)
                self.assertEqual(code, 5)
                self.assertIn(nl("Directory as input is invalid.\r\n"), out)
                self.assertUntouched("d/a.txt")

    def test_end_of_input_answers_no_and_says_so(self):
        self.make(os.path.join("d", "a.txt"))
        code, out = self.answer(b"", "d")
        self.assertEqual(code, 5)
        self.assertEqual(out.count(Q110 % "d"), 1)
        self.assertIn("the input has ended", out)

    def test_two_questions_share_the_line_end(self):
        self.make(os.path.join("d", "a.txt"))
        code, out = self.answer(b"y\ny\n", "d", "all.out")
        self.assertEqual(code, 0)
        self.assertEqual(out.count(Q110 % "d"), 1)
        # The second question reads the first answer's line end: Windows asks
        # again, POSIX takes it as the end of that answer.
        self.assertEqual(out.count(Q111 % "all.out"), 2 if ON_WINDOWS else 1)
        self.assertEqual(self.read("all.out"), converted("a.txt"))

    def test_question_goes_into_the_log(self):
        self.make(os.path.join("d", "a.txt"))
        code, out = self.answer(b"y", "d", "/log")
        self.assertEqual((code, out), (0, ""))
        log = self.read_log()
        self.assertIn("(0): " + Q110 % "d", log)

    def test_silent_directory_takes_the_default_yes(self):
        self.make(os.path.join("d", "a.txt"))
        code, out = self.answer(b"", "d", "/s")
        self.assertEqual((code, out), (0, ""))
        self.assertConverted("d/a.txt")


class InterruptionTest(InputsTestCase):
    def test_killed_in_place_conversion_leaves_the_input_intact(self):
        block = bytes(range(256)) * 4096
        with open(self.path("big.txt"), "wb") as f:
            for _ in range(200):
                f.write(block)
        with open(self.path("big.txt"), "rb") as f:
            original = f.read()
        finished = bytearray(original)
        finished[0::2], finished[1::2] = original[1::2], original[0::2]
        finished = b"\xff\xfe" + bytes(finished)
        for delay in (0.05, 0.3):
            with self.subTest(delay=delay):
                proc = subprocess.Popen(PREFIX + [ORDANA, "big.txt"] + CONVERT, cwd=self.dir,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                time.sleep(delay)
                proc.send_signal(signal.SIGKILL)
                proc.wait()
                # Nothing can clean up after SIGKILL: the test removes the
                # channel names the killed converter left.
                for name in shm_files(proc.pid):
                    if os.path.exists(name):
                        os.unlink(name)
                data = self.read("big.txt")
                self.assertTrue(data == original or data == finished,
                                "the input is neither the original nor the finished result")
                if data != original:
                    break  # finished before the kill: nothing more to learn


if __name__ == "__main__":
    unittest.main()
