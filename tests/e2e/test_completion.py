"""The bash completion (data/bash-completion/ordana), driven as bash drives
it: COMP_WORDS and COMP_CWORD set, the completion function called, COMPREPLY
read back. It completes the built program's options and character sets."""

import os
import shutil
import subprocess
import tempfile
import unittest

from ordana_run import ORDANA, posix_only, run

SOURCE_DIR = os.environ.get("ORDANA_SOURCE_DIR",
                            os.path.join(os.path.dirname(__file__), "..", ".."))
COMPLETION = os.path.join(SOURCE_DIR, "data", "bash-completion", "ordana")

DRIVER = r'''
source "$1"
shift
compopt() { :; }  # only valid while bash itself completes
COMP_WORDS=("$@")
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
_ordana
printf '%s\n' "${COMPREPLY[@]}"
'''


@posix_only("bash completion")
@unittest.skipUnless(shutil.which("bash"), "bash is not installed")
class CompletionTest(unittest.TestCase):
    def complete(self, *words):
        """The completions of the last word, the first word being the program."""
        with tempfile.TemporaryDirectory(prefix="ordana-completion-") as cwd:
            proc = subprocess.run(["bash", "-c", DRIVER, "_", COMPLETION, ORDANA] + list(words),
                                  cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(proc.stderr, b"")
        return [line for line in proc.stdout.decode().splitlines() if line]

    def test_character_set_names_after_the_options_that_take_one(self):
        cases = [
            # (words after the program, expected completions)
            (["/i", "koi8"], ["KOI8-R", "KOI8-U"]),
            (["/o", "utf-3"], ["UTF-32", "UTF-32BE"]),
            (["/O", "Utf-3"], ["UTF-32", "UTF-32BE"]),  # case does not matter
            (["/scs", "=", "koi8"], ["KOI8-R", "KOI8-U"]),  # "=" breaks words
            (["/dcs=utf-3"], ["/dcs=UTF-32", "/dcs=UTF-32BE"]),  # it does not
            (["-f", "utf-3"], ["UTF-32", "UTF-32BE"]),
            (["--to", "=", "utf-3"], ["UTF-32", "UTF-32BE"]),
            (["--from=utf-3"], ["--from=UTF-32", "--from=UTF-32BE"]),
            (["/eol", ""], ["dos", "unix", "mac"]),
            (["--eol", "=", "u"], ["unix"]),
            (["/policy", "=", "l"], ["loose"]),
            (["/htmlentity", "d"], ["dec"]),
        ]
        for words, expected in cases:
            with self.subTest(words=words):
                got = self.complete(*words)
                # Aliases without a hyphen (KOI8R) come along; every name
                # completed starts with what was typed.
                for name in expected:
                    self.assertIn(name, got)
                typed = words[-1].split("=")[-1] if words[-1] != "=" else ""
                for name in got:
                    self.assertTrue(name.split("=")[-1].lower().startswith(typed.lower()), name)

    def test_every_listed_name_without_a_space_is_offered(self):
        code, out = run(["/listall"])
        self.assertEqual(code, 0)
        names = [n for n in out.decode().replace("\r", "").splitlines() if n and " " not in n]
        self.assertEqual(sorted(self.complete("/i", "")), sorted(names))

    def test_options_come_from_the_program_and_it_accepts_each(self):
        offered = self.complete("/") + self.complete("-")
        options = [o for o in offered if not os.path.exists(o)]  # "/" also completes paths
        for option in ("/i", "/o", "/listall", "/detect", "/verbose", "--detect", "--verbose"):
            self.assertIn(option, options)
        # None of them is refused as an unknown option.
        with tempfile.TemporaryDirectory(prefix="ordana-completion-") as cwd:
            for option in options:
                with self.subTest(option=option):
                    # "/scs=" and "--from=" are options only with a value.
                    word = option + "x" if option.endswith("=") else option
                    proc = subprocess.run([ORDANA, word], cwd=cwd,
                                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                          stdin=subprocess.DEVNULL, timeout=60)
                    self.assertNotIn(b"nknown option", proc.stdout)

    def test_absolute_paths_are_completed_after_a_slash(self):
        with tempfile.TemporaryDirectory(prefix="ordana-completion-") as d:
            target = os.path.join(d, "some-file.txt")
            open(target, "w").close()
            self.assertEqual(self.complete(os.path.join(d, "some")), [target])


if __name__ == "__main__":
    unittest.main()
