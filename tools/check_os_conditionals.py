#!/usr/bin/env python3
"""Fails when a preprocessor condition on the operating system appears
outside the platform seam.

Operating-system differences live in src/platform/ (and in the per-system
folders of a tool, tools/*/posix/ and tools/*/win32/); everything else is
the same code on every system and asks the seam (platform::kPosixConventions,
kShellExpandsWildcards, NamesForeignDevice, ...). A file that must test the
system itself is listed in ALLOWED with the reason.

Usage: check_os_conditionals.py [--root DIR]   check the tree (default: the repository)
       check_os_conditionals.py --self-test    check the checker on made-up trees
"""

import argparse
import os
import re
import sys
import tempfile

# Macros that name an operating system (not a compiler or an architecture).
OS_MACROS = (
    "_WIN32", "_WIN64", "WIN32", "_WINDOWS", "__CYGWIN__", "__MINGW32__", "__MINGW64__",
    "__linux__", "__linux", "linux", "__gnu_linux__", "__ANDROID__",
    "__unix__", "__unix", "unix", "__APPLE__", "__MACH__",
    "__FreeBSD__", "__NetBSD__", "__OpenBSD__", "__DragonFly__", "__sun", "__HAIKU__",
    "_POSIX_VERSION",
)
CONDITIONAL = re.compile(r"^\s*#\s*(if|ifdef|ifndef|elif)\b(.*)$")
MACRO = re.compile(r"(?<![A-Za-z0-9_])(" + "|".join(re.escape(m) for m in OS_MACROS) + r")(?![A-Za-z0-9_])")

SCANNED = ("src", "tools", "tests", "fuzz", "bench")
SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".h", ".hpp", ".inc")

# Folders that are a seam to the operating system themselves.
SEAM = re.compile(r"^(src/platform/|tools/[^/]+/(posix|win32)/)")

# Files outside the seam that may test the system, each with its reason.
ALLOWED = {
    "src/support/CpuFeatures.h":
        "the AVX2/AVX-512 kernels are left out of the mingw-w64 build at compile "
        "time (its stack is not aligned for their wide spills), a choice a "
        "run-time constant of the seam cannot make",
    "tests/unit/FileTest.cpp":
        "reads from a POSIX pipe made with pipe(2), which mingw-w64 does not "
        "declare; the Windows build reads its pipes in the end-to-end tests",
    "tests/unit/StatusChannelTest.cpp":
        "looks at the POSIX objects behind the channel through their /dev/shm "
        "files (mode bits, links), which only POSIX has",
}


def conditions(text):
    """Yields (line number, condition text) for every #if/#ifdef/#ifndef/#elif,
    with continuation lines joined and comments removed."""
    lines = text.split("\n")
    k = 0
    while k < len(lines):
        number = k + 1
        line = lines[k]
        while line.endswith("\\") and k + 1 < len(lines):
            k += 1
            line = line[:-1] + " " + lines[k]
        k += 1
        match = CONDITIONAL.match(line)
        if not match:
            continue
        condition = re.sub(r"/\*.*?\*/", " ", match.group(2))
        condition = condition.split("//", 1)[0]
        yield number, condition


def findings(root, allowed):
    """Returns a list of problems: OS conditions outside the seam, and
    allow-list entries that no longer need to be there."""
    problems = []
    used = set()
    for top in SCANNED:
        base = os.path.join(root, top)
        for directory, subdirectories, files in os.walk(base):
            # Build and work folders (bench/.build, ...) are not sources.
            subdirectories[:] = sorted(d for d in subdirectories if not d.startswith("."))
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(directory, name)
                relative = os.path.relpath(path, root).replace(os.sep, "/")
                if SEAM.match(relative):
                    continue
                with open(path, encoding="utf-8", errors="replace") as source:
                    text = source.read()
                for number, condition in conditions(text):
                    macro = MACRO.search(condition)
                    if not macro:
                        continue
                    if relative in allowed:
                        used.add(relative)
                        continue
                    problems.append("%s:%d: #if on the operating system (%s) outside src/platform"
                                    % (relative, number, macro.group(1)))
    for relative in sorted(set(allowed) - used):
        problems.append("%s: listed as allowed but holds no condition on the operating system "
                        "(remove it from ALLOWED)" % relative)
    return problems


def self_test():
    """Each case is a tree of one file; the checker must report exactly when
    `expect` says so."""
    cases = [
        ("src/app/A.cpp", "#ifdef _WIN32\n#endif\n", True),
        ("src/app/A.cpp", "#ifndef _WIN32\n#endif\n", True),
        ("src/app/A.cpp", "  #  if defined(__linux__) && X\n#endif\n", True),
        ("src/core/A.h", "#if 0\n#elif defined __APPLE__\n#endif\n", True),
        ("src/codecs/A.cpp", "#if FOO && \\\n    defined(_WIN32)\n#endif\n", True),
        ("tools/x/main.cpp", "#if !defined(unix)\n#endif\n", True),
        ("tests/unit/T.cpp", "#ifdef __MINGW32__\n#endif\n", True),
        ("src/app/A.cpp", "// #ifdef _WIN32 is not used here\n", False),
        ("src/app/A.cpp", "#ifdef ORDANA_WIN32_NAMES\n#endif\n", False),
        ("src/app/A.cpp", "#if ORDANA_SSE2 /* not _WIN32 */\n#endif\n", False),
        ("src/app/A.cpp", "#if X // _WIN32 aside\n#endif\n", False),
        ("src/app/A.cpp", "const char* s = \"#ifdef _WIN32\";\n", False),
        ("src/platform/Platform.h", "#ifdef _WIN32\n#endif\n", False),
        ("src/platform/posix/P.cpp", "#ifdef __linux__\n#endif\n", False),
        ("tools/ordana-watch/win32/W.cpp", "#ifdef _WIN32\n#endif\n", False),
        ("src/app/notes.txt", "#ifdef _WIN32\n", False),
        ("bench/.build/CMakeFiles/Id.cpp", "#ifdef _WIN32\n#endif\n", False),
    ]
    failures = 0
    for relative, text, expect in cases:
        with tempfile.TemporaryDirectory() as root:
            path = os.path.join(root, relative)
            os.makedirs(os.path.dirname(path))
            with open(path, "w", encoding="utf-8") as out:
                out.write(text)
            got = bool(findings(root, {}))
        if got != expect:
            failures += 1
            print("self-test: %s with %r: expected %s, got %s"
                  % (relative, text, "a finding" if expect else "none", "a finding" if got else "none"))
    # The allow-list: an allowed file passes, and an entry that is no longer
    # needed is reported.
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "tests/unit"))
        with open(os.path.join(root, "tests/unit/T.cpp"), "w") as out:
            out.write("#ifndef _WIN32\n#endif\n")
        with open(os.path.join(root, "tests/unit/U.cpp"), "w") as out:
            out.write("int x;\n")
        if findings(root, {"tests/unit/T.cpp": "reason"}):
            failures += 1
            print("self-test: an allowed file was reported")
        stale = findings(root, {"tests/unit/T.cpp": "reason", "tests/unit/U.cpp": "reason"})
        if len(stale) != 1 or "U.cpp" not in stale[0]:
            failures += 1
            print("self-test: a stale allow-list entry was not reported: %r" % stale)
    print("self-test: %d failure(s)" % failures)
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser.add_argument("--self-test", action="store_true")
    arguments = parser.parse_args()
    if arguments.self_test:
        return self_test()
    problems = findings(arguments.root, ALLOWED)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
