"""The function-length check itself: it finds every function with its true
first and last line, ignores braces that are text, and fails exactly on a
function over the limit that is not listed as known."""

import importlib.util
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CHECK = os.path.join(ROOT, "tools", "check_function_length.py")
KNOWN = os.path.join(ROOT, "tools", "long_functions.txt")

_spec = importlib.util.spec_from_file_location("check_function_length", CHECK)
check = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(check)

# (what the case shows, C++ source, [(name, first line, last line)])
CPP_CASES = [
    ("a free function",
     "int f(int a) {\n  return a;\n}\n",
     [("f", 1, 3)]),
    ("a signature over two lines starts at its first line",
     "#include <x>\n\nvoid Long(int a,\n          int b) {\n  g();\n}\n",
     [("Long", 3, 6)]),
    ("namespaces and classes are scopes; members defined inside count",
     "namespace a {\nnamespace {\nclass C {\n public:\n  int get() const { return x_; }\n"
     "  void set(int x) {\n    x_ = x;\n  }\n private:\n  int x_ = 0;\n};\n}  // namespace\n}\n",
     [("get", 5, 5), ("set", 6, 8)]),
    ("a qualified member and a destructor",
     "void A::B::Run() {\n}\nA::~A() {\n  Free();\n}\n",
     [("A::B::Run", 1, 2), ("A::~A", 3, 5)]),
    ("a constructor's braced member initializers belong to its header",
     "C::C(int a)\n    : a_{a},\n      b_(std::vector<int>{1, 2}) {\n  Init();\n}\n",
     [("C::C", 1, 5)]),
    ("braces in comments, strings, characters and raw strings are text",
     "void f() {\n  // }\n  /* } { */\n  const char* s = \"}\";\n  char16_t c = u'{';\n"
     "  char d = '\\'';\n  auto r = R\"x(})x\";\n  int n = 1'000;\n}\nint g() { return 0; }\n",
     [("f", 1, 9), ("g", 10, 10)]),
    ("lambdas and blocks inside a function are part of it",
     "void f() {\n  auto l = [](int x) {\n    return x;\n  };\n  if (l(1)) {\n    g();\n  }\n}\n",
     [("f", 1, 8)]),
    ("tables, enumerations and structures are not functions",
     "const int kTable[] = {\n  1, 2,\n};\nenum class E { kA, kB };\nstruct S { int a; };\n"
     "S s = {f(1)};\nint f(int x) { return x; }\n",
     [("f", 7, 7)]),
    ("preprocessor lines are not code",
     "#define OPEN(x) { \\\n    x; }\n#if X\nvoid f() {\n#else\n#error }\n#endif\n}\n",
     [("f", 4, 8)]),
    ("operators, templates and trailing qualifiers",
     "template <typename T>\nbool operator==(const T& a, const T& b) noexcept {\n  return a.v == b.v;\n}\n"
     "auto h() -> int {\n  return 1;\n}\nvoid k() const override {}\n",
     [("operator==", 1, 4), ("h", 5, 7), ("k", 8, 8)]),
    ("an access label is not part of the next function",
     "class C {\n public:\n  void f() {\n  }\n};\n",
     [("f", 3, 4)]),
]

PY_SOURCE = (
    "import os\n"
    "\n"
    "def top(a):\n"
    "    def inner():\n"
    "        return 1\n"
    "    return inner()\n"
    "\n"
    "class K:\n"
    "    @staticmethod\n"
    "    def method():\n"
    "        pass\n"
)


def function_of(lines):
    """A C++ function of exactly `lines` lines."""
    body = "".join(f"  x += {k};\n" for k in range(lines - 2))
    return f"void F{lines}(int& x) {{\n{body}}}\n"


class FunctionLengthCheckTest(unittest.TestCase):
    def make_tree(self, files):
        root = tempfile.mkdtemp(prefix="lengths")
        self.addCleanup(shutil.rmtree, root, True)
        os.makedirs(os.path.join(root, "src"))
        for path, text in files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w", encoding="utf-8") as f:
                f.write(text)
        return root

    def run_check(self, root, *options):
        return subprocess.run([sys.executable, CHECK, *options, root],
                              capture_output=True, text=True)

    def test_the_repository_passes_with_its_list(self):
        result = self.run_check(ROOT, "--known", KNOWN)
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_cpp_functions_and_their_lines(self):
        for what, source, expected in CPP_CASES:
            with self.subTest(what):
                self.assertEqual(check.cpp_functions(source), expected)

    def test_python_functions_and_their_lines(self):
        self.assertEqual(check.python_functions(PY_SOURCE),
                         [("top", 3, 6), ("top.inner", 4, 5), ("K.method", 9, 11)])

    def test_the_limit_is_inclusive(self):
        root = self.make_tree({"src/core/A.cpp": function_of(60) + function_of(61),
                               "tools/t.py": "def f():\n" + "    pass\n" * 60})
        result = self.run_check(root)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout.splitlines(), [
            "src/core/A.cpp:61: F61 is 61 lines long (at most 60)",
            "tools/t.py:1: f is 61 lines long (at most 60)",
        ])
        self.assertEqual(self.run_check(root, "--limit", "61").returncode, 0)

    def test_generated_files_and_other_folders_are_not_judged(self):
        root = self.make_tree({
            "src/codecs/Tables.cpp": "// Generated by tools/gen.py; do not edit.\n" + function_of(70),
            "tools/gen_x.py": "# Generated by hand? no: a comment on line two\n# x\n",
            "tests/unit/T.cpp": function_of(70),
            "src/core/notes.txt": function_of(70),
        })
        result = self.run_check(root)
        self.assertEqual((result.returncode, result.stdout), (0, ""))

    def test_known_functions_pass_and_the_list_only_shrinks(self):
        root = self.make_tree({"src/app/A.cpp": function_of(61) + function_of(62) + function_of(10)})
        known = os.path.join(root, "known.txt")
        cases = [
            # (list, exit code, printed lines)
            ("# all of them\nsrc/app/A.cpp F61\nsrc/app/A.cpp F62  # soon\n", 0, []),
            ("src/app/A.cpp F61\n", 1, ["src/app/A.cpp:62: F62 is 62 lines long (at most 60)"]),
            ("src/app/A.cpp F61\nsrc/app/A.cpp F62\nsrc/app/A.cpp F10\nsrc/app/B.cpp G\n", 1,
             ["src/app/A.cpp: F10 is listed as long but is not (any more): remove it from the list",
              "src/app/B.cpp: G is listed as long but is not (any more): remove it from the list"]),
        ]
        for listed, code, lines in cases:
            with self.subTest(listed=listed):
                with open(known, "w", encoding="utf-8") as f:
                    f.write(listed)
                result = self.run_check(root, "--known", known)
                self.assertEqual((result.returncode, result.stdout.splitlines()), (code, lines))


if __name__ == "__main__":
    unittest.main()
