"""The layer check itself: it must pass on the repository and fail on any
single include against the direction."""

import importlib.util
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CHECK = os.path.join(ROOT, "tools", "check_layers.py")

ORDER = ["platform", "support", "core", "codecs", "transforms", "detection", "app"]
# Which layer may include which (besides its own): the map a reader of the
# layer table in CONTRIBUTING.md expects, written out pair by pair.
ALLOWED = {
    ("support", "platform"),
    ("core", "platform"), ("core", "support"),
    ("codecs", "platform"), ("codecs", "support"), ("codecs", "core"),
    ("transforms", "platform"), ("transforms", "support"), ("transforms", "core"),
    ("transforms", "codecs"),
    ("detection", "platform"), ("detection", "support"), ("detection", "core"),
    ("detection", "codecs"),
    ("app", "platform"), ("app", "support"), ("app", "core"), ("app", "codecs"),
    ("app", "transforms"), ("app", "detection"),
}


_spec = importlib.util.spec_from_file_location("check_layers", CHECK)
check_layers = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(check_layers)


def run_check(root):
    return subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)


class LayerCheckTest(unittest.TestCase):
    def make_tree(self, files):
        root = tempfile.mkdtemp(prefix="layers")
        self.addCleanup(shutil.rmtree, root, True)
        for layer in ORDER:
            os.makedirs(os.path.join(root, "src", layer))
        for path, text in files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w", encoding="utf-8") as f:
                f.write(text)
        return root

    def test_the_repository_passes(self):
        result = run_check(ROOT)
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_every_pair_of_layers(self):
        for user in ORDER:
            for used in ORDER:
                with self.subTest(user=user, used=used):
                    source = (f'#include <vector>\n#include "{user}/Own.h"\n'
                              f'  #  include "{used}/Other.h"\n')
                    root = self.make_tree({f"src/{user}/posix/A.cpp": source})
                    found = check_layers.violations(root)
                    if user == used or (user, used) in ALLOWED:
                        self.assertEqual(found, [])
                    else:
                        self.assertEqual([(path, line, name) for path, line, name, _ in found],
                                         [(f"src/{user}/posix/A.cpp", 3, f"{used}/Other.h")])

    def test_one_upward_include_among_many_is_found(self):
        root = self.make_tree({
            "src/app/Main.cpp": '#include "codecs/X.h"\n#include "detection/Y.h"\n',
            "src/codecs/X.h": '#pragma once\n#include "core/Filter.h"\n',
            "src/core/File.cpp": '#include "core/File.h"\n\n#include "app/MessageLog.h"\n',
            "src/core/notes.txt": '#include "app/NotASource.h"\n',
        })
        result = run_check(root)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout.splitlines(),
                         ['src/core/File.cpp:3: includes "app/MessageLog.h": core may not include app'])

    def test_names_outside_the_layers_are_not_judged(self):
        # The generated version header and a header beside the source.
        root = self.make_tree({"src/platform/posix/P.cpp": '#include "Version.h"\n#include "Local.h"\n'})
        self.assertEqual(run_check(root).returncode, 0)


if __name__ == "__main__":
    unittest.main()
