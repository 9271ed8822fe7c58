"""The manual pages of ordana-watch and ordana-stats (doc/*.1) against the
options the tools accept: every option the source compares arguments with
and every option the tool's --help shows is documented in the page's
OPTIONS section, and the page documents no option the tool does not accept."""

import os
import re
import shutil
import subprocess
import unittest

from ordana_run import EXE_SUFFIX, ORDANA, PREFIX, posix_only

SOURCE_DIR = os.environ.get("ORDANA_SOURCE_DIR",
                            os.path.join(os.path.dirname(__file__), "..", ".."))

# (program, its source file with the option parsing, its manual page)
TOOLS = [
    ("ordana-watch", "tools/ordana-watch/Watch.cpp", "doc/ordana-watch.1"),
    ("ordana-stats", "tools/ordana-stats/Options.cpp", "doc/ordana-stats.1"),
]

OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][A-Za-z0-9-]*)")


def source_options(path):
    """The option names the parser compares an argument with."""
    with open(os.path.join(SOURCE_DIR, path), encoding="utf-8") as f:
        return set(re.findall(r'\barg\s*==\s*"(-[^"]+)"', f.read()))


def help_options(program):
    proc = subprocess.run(PREFIX + [program, "--help"], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=60)
    assert proc.returncode == 0, proc.stderr
    return set(OPTION.findall(proc.stdout.decode("utf-8")))


def plain(roff):
    """The page's text with the escapes for '-', fonts and spacing removed."""
    text = roff.replace("\\-", "-")
    text = re.sub(r"\\f[BIRP]|\\f\(..|\\\||\\&", "", text)
    return text


def sections(roff):
    """{section name: its source lines}, by .SH."""
    result = {}
    name = None
    for line in roff.splitlines():
        if line.startswith(".SH "):
            name = line[4:].strip().strip('"')
            result[name] = []
        elif name:
            result[name].append(line)
    return result


def documented_options(roff):
    """The options named in the tags (.TP lines) of the OPTIONS section."""
    lines = sections(roff)["OPTIONS"]
    tags = [lines[k + 1] for k, line in enumerate(lines) if line.startswith(".TP") and k + 1 < len(lines)]
    return set(OPTION.findall(plain("\n".join(tags))))


class ManualPageDriftTest(unittest.TestCase):
    def test_every_option_is_documented_and_every_documented_one_exists(self):
        for name, source, page in TOOLS:
            with self.subTest(tool=name):
                with open(os.path.join(SOURCE_DIR, page), encoding="utf-8") as f:
                    roff = f.read()
                accepted = source_options(source)
                self.assertIn("--help", accepted, "the parser was not found in " + source)
                program = os.path.join(os.path.dirname(ORDANA), name + EXE_SUFFIX)
                shown = help_options(program)
                documented = documented_options(roff)
                self.assertEqual(sorted(accepted - documented), [],
                                 "accepted by %s but not in the OPTIONS of %s" % (source, page))
                self.assertEqual(sorted(shown - documented), [],
                                 "in %s --help but not in the OPTIONS of %s" % (name, page))
                self.assertEqual(sorted(documented - accepted), [],
                                 "in the OPTIONS of %s but not accepted by %s" % (page, source))

    def test_the_pages_name_their_tool_and_version(self):
        with open(os.path.join(SOURCE_DIR, "CMakeLists.txt"), encoding="utf-8") as f:
            version = re.search(r"project\(Ordana VERSION ([0-9.]+)", f.read()).group(1)
        for name, _, page in TOOLS:
            with self.subTest(page=page):
                with open(os.path.join(SOURCE_DIR, page), encoding="utf-8") as f:
                    roff = f.read()
                header = roff.splitlines()[0]
                self.assertTrue(header.startswith(".TH %s 1 " % name.upper()), header)
                self.assertIn(version, header)
                self.assertIn("NAME", sections(roff))
                self.assertTrue(plain(sections(roff)["NAME"][0]).startswith(name + " - "))

    @posix_only("man renders the pages on the build machine")
    @unittest.skipUnless(shutil.which("man"), "man (man-db) is not installed")
    def test_man_renders_the_pages_without_warnings(self):
        for name, _, page in TOOLS:
            with self.subTest(page=page):
                proc = subprocess.run(["man", "--warnings", "-l", os.path.join(SOURCE_DIR, page)],
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                      stdin=subprocess.DEVNULL, timeout=60,
                                      env=dict(os.environ, LC_ALL="C", MANWIDTH="80"))
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertEqual(proc.stderr.decode(), "")
                self.assertIn("OPTIONS", proc.stdout.decode())


if __name__ == "__main__":
    unittest.main()
