#!/usr/bin/env python3
"""Times Ordana against iconv, uconv and cp on large generated text files.

Usage: python3 bench/run.py [--size-mib N] [--repeat R] [--output bench/RESULTS.md]

Builds a release binary in bench/.build, writes its inputs and outputs into
bench/.work, runs every command once untimed and then R times, interleaved
round by round, and prints a Markdown report (median wall time, throughput,
Ordana's throughput relative to each other tool, peak resident memory, an
output check and the targets). Python 3 standard library only.

Exit code: 0 when the report was made and every Ordana output that was
produced is correct; 1 when an Ordana output differs from the reference or
Ordana failed unexpectedly; 2 when the benchmark could not run at all.
"""

import argparse
import datetime
import json
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BENCH = os.path.join(ROOT, "bench")
BUILD_DIR = os.path.join(BENCH, ".build")
WORK_DIR = os.path.join(BENCH, ".work")
ORDANA = os.path.join(BUILD_DIR, "ordana")
RWLOOP = os.path.join(BUILD_DIR, "rwloop")  # bench/rwloop.cpp: the read/write floor
CODECTIME = os.path.join(BUILD_DIR, "ordana-codectime")  # bench/codectime.cpp: conversion work alone
LOOP = "read/write loop"
CODEC_ONLY = "codec only"

MIB = 1024 * 1024
GENERATOR_VERSION = 3  # bump when the text generator changes
NOISE_LIMIT = 0.25  # (max - min) / median above this marks a row as noisy
TARGET_SPEEDUP = 3.0  # Ordana's throughput at least this many times iconv's and uconv's
TARGET_COPY_FACTOR = 1.5  # the UTF-16LE copy takes at most this many times the read/write loop's CPU time
TARGET_FLOOR_FACTOR = 1.3  # below 3x: Ordana within this factor of the loop + the codec-only time
TARGET_RSS_MIB = 48.0  # Ordana's peak resident memory
TARGET_AUTO_EXTRA = 0.25  # detection adds at most this share to the conversion with /i


def log(message):
    print(message, file=sys.stderr, flush=True)


def die(message):
    log("run.py: " + message)
    sys.exit(2)


# --------------------------------------------------------------------------
# Tools


def apt_install(packages):
    """Installs Debian packages, as root or through sudo."""
    prefix = [] if os.geteuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    log("Installing " + " ".join(packages) + " ...")
    install = prefix + ["apt-get", "install", "-y", "-qq"] + packages
    if subprocess.run(install, env=env, stdout=sys.stderr).returncode == 0:
        return
    subprocess.run(prefix + ["apt-get", "update", "-qq"], env=env, stdout=sys.stderr)
    if subprocess.run(install, env=env, stdout=sys.stderr).returncode != 0:
        die("could not install " + " ".join(packages))


def ensure_tools():
    wanted = {"uconv": "icu-devtools", "iconv": "libc-bin", "cmake": "cmake",
              "ninja": "ninja-build", "g++": "g++", "cp": "coreutils",
              "setsid": "util-linux"}
    missing = sorted({pkg for cmd, pkg in wanted.items() if shutil.which(cmd) is None})
    if missing:
        apt_install(missing)
    for cmd in wanted:
        if shutil.which(cmd) is None:
            die(cmd + " is still missing after installing")


def build_ordana():
    log("Building the release binary in bench/.build ...")
    steps = [
        ["cmake", "-S", ".", "-B", "bench/.build", "-G", "Ninja",
         "-DCMAKE_BUILD_TYPE=Release", "-DORDANA_BUILD_TESTS=OFF", "-DORDANA_BUILD_BENCH=ON"],
        ["cmake", "--build", "bench/.build"],
    ]
    for step in steps:
        if subprocess.run(step, cwd=ROOT, stdout=sys.stderr).returncode != 0:
            die("the build failed: " + " ".join(step))
    for built in (ORDANA, CODECTIME):
        if not os.access(built, os.X_OK):
            die("the build did not produce " + built)
    loop = ["g++", "-O2", "-o", RWLOOP, os.path.join(BENCH, "rwloop.cpp")]
    if subprocess.run(loop, cwd=ROOT, stdout=sys.stderr).returncode != 0:
        die("the build failed: " + " ".join(loop))


# --------------------------------------------------------------------------
# Inputs

ENGLISH = (
    "the quick brown fox jumps over lazy dog and then some more text follows "
    "about files characters encodings bytes lines pages documents letters words "
    "which were written in many languages by people all over the world during "
    "long winter evenings while reading newspapers books reports and manuals "
    "every converter must keep each character exactly as it was meant to be"
).split()
ACCENTED = ("café naïve résumé Zürich façade jalapeño señor Ångström Øresund crème "
            "brûlée über Straße déjà vu coöperate Málaga São Paulo Genève Ærø "
            "Besançon Bogotá Köln Dvořák").split()
GREEK = ("Η γρήγορη καφέ αλεπού πηδάει πάνω από τον τεμπέλη σκύλο και ξαναγυρίζει "
         "στο σπίτι της όπου διαβάζει ένα βιβλίο για την ιστορία της Αθήνας").split()
CYRILLIC = ("Съешь же ещё этих мягких французских булок да выпей чаю Широкая электрификация "
            "южных губерний даст мощный толчок подъёму сельского хозяйства").split()
CJK = ["我能吞下玻璃而不伤身体。", "天地玄黄，宇宙洪荒。", "日月盈昃，辰宿列张。",
       "いろはにほへと ちりぬるを", "わかよたれそ つねならむ", "다람쥐 헌 쳇바퀴에 타고파",
       "東京都の天気は晴れです。", "漢字とカタカナとひらがな", "𠜎𠜱𠝹𠱓 古い漢字"]
EMOJI = ["😀", "🚀", "🎉", "👍", "🌍", "𝄞", "🦊", "📄", "✅", "🙂"]

WESTERN = ("café naïve résumé façade jalapeño señor Ångström Øresund crème brûlée über "
           "Straße déjà coöperate Málaga São Genève Ærø Besançon Bogotá Köln smørrebrød "
           "Œuvre œil Šibenik Žižek Ÿvonne ƒ").split()
PUNCT_1252 = ["€", "“", "”", "‘", "’", "–", "—", "…", "•", "™", "†", "‡", "‰", "‹", "›",
              "°", "±", "§", "¶", "©", "®", "«", "»", "¿", "¡", "½", "¼", "£", "¥"]


def multilingual_line(rng):
    kind = rng.random()
    if kind < 0.70:
        words = []
        for _ in range(rng.randint(8, 18)):
            r = rng.random()
            if r < 0.12:
                words.append(rng.choice(ACCENTED))
            elif r < 0.14:
                words.append(rng.choice(EMOJI))
            else:
                words.append(rng.choice(ENGLISH))
        line = " ".join(words)
        line = line[0].upper() + line[1:] + rng.choice([".", ".", ".", "!", "?", ";"])
    elif kind < 0.80:
        line = " ".join(rng.choice(GREEK) for _ in range(rng.randint(6, 14))) + "."
    elif kind < 0.90:
        line = " ".join(rng.choice(CYRILLIC) for _ in range(rng.randint(6, 14))) + "."
    else:
        line = "".join(rng.choice(CJK) for _ in range(rng.randint(2, 5)))
        if rng.random() < 0.3:
            line += rng.choice(EMOJI)
    return line + ("\r\n" if rng.random() < 0.15 else "\n")


def western_line(rng):
    words = []
    for _ in range(rng.randint(8, 18)):
        r = rng.random()
        if r < 0.15:
            words.append(rng.choice(WESTERN))
        elif r < 0.20:
            words.append("“" + rng.choice(ENGLISH) + "”")
        elif r < 0.23:
            words.append(str(rng.randint(1, 999)) + " €")
        elif r < 0.27:
            words.append(rng.choice(PUNCT_1252))
        else:
            words.append(rng.choice(ENGLISH))
    line = " ".join(words)
    if line[0].isascii():  # ƒ would become Ƒ, which Windows-1252 lacks
        line = line[0].upper() + line[1:]
    line += rng.choice([".", ".", "…", "!", "?"])
    return line + ("\r\n" if rng.random() < 0.5 else "\n")


def write_text(line_maker, seed, target_bytes, outputs):
    """Writes deterministic lines until the first output holds target_bytes.

    outputs: list of (path, encoding); the first one sets the size. The lines
    come from a pool of distinct lines, picked by a seeded generator.
    """
    rng = random.Random(seed)
    pool = [line_maker(rng) for _ in range(20000)]
    files = [open(path, "wb") for path, _ in outputs]
    try:
        written = 0
        while written < target_bytes:
            lines = rng.choices(pool, k=20000)
            chunk = "".join(lines)
            first = chunk.encode(outputs[0][1])
            if written + len(first) > target_bytes:
                # The last chunk: only as many lines as needed to reach the size.
                count, size = 0, written
                while size < target_bytes:
                    size += len(lines[count].encode(outputs[0][1]))
                    count += 1
                chunk = "".join(lines[:count])
                first = chunk.encode(outputs[0][1])
            files[0].write(first)
            written += len(first)
            for f, (_, encoding) in zip(files[1:], outputs[1:]):
                f.write(chunk.encode(encoding))
    finally:
        for f in files:
            f.close()


INPUT_LABELS = [("multi_utf8", "multilingual UTF-8"), ("multi_utf16le", "the same as UTF-16LE"),
                ("western_1252", "Western Windows-1252"), ("western_utf8", "the same as UTF-8")]


def make_inputs(size_mib):
    os.makedirs(WORK_DIR, exist_ok=True)
    paths = {
        "multi_utf8": os.path.join(WORK_DIR, "multilingual.utf8.txt"),
        "multi_utf16le": os.path.join(WORK_DIR, "multilingual.utf16le.txt"),
        "western_1252": os.path.join(WORK_DIR, "western.cp1252.txt"),
        "western_utf8": os.path.join(WORK_DIR, "western.utf8.txt"),
    }
    stamp_path = os.path.join(WORK_DIR, "inputs.json")
    stamp = {"generator": GENERATOR_VERSION, "size_mib": size_mib,
             "sizes": None}
    try:
        with open(stamp_path) as f:
            old = json.load(f)
        if (old.get("generator") == GENERATOR_VERSION and old.get("size_mib") == size_mib
                and all(os.path.isfile(p) and os.path.getsize(p) == old["sizes"][k]
                        for k, p in paths.items())):
            log("Reusing the inputs in bench/.work")
            return paths
    except (OSError, ValueError, KeyError, TypeError):
        pass
    target = size_mib * MIB
    log("Writing the multilingual inputs (%d MiB of UTF-8, and as UTF-16LE) ..." % size_mib)
    write_text(multilingual_line, 20261207, target,
               [(paths["multi_utf8"], "utf-8"), (paths["multi_utf16le"], "utf-16-le")])
    log("Writing the Western inputs (%d MiB of Windows-1252, and as UTF-8) ..." % size_mib)
    write_text(western_line, 1252, target,
               [(paths["western_1252"], "cp1252"), (paths["western_utf8"], "utf-8")])
    stamp["sizes"] = {k: os.path.getsize(p) for k, p in paths.items()}
    with open(stamp_path, "w") as f:
        json.dump(stamp, f)
    return paths


# --------------------------------------------------------------------------
# Running and measuring


class Run:
    def __init__(self, seconds, cpu_seconds, exit_code, rss_kib, stderr, system_seconds=0.0):
        self.seconds = seconds
        self.cpu_seconds = cpu_seconds
        self.system_seconds = system_seconds  # the kernel's share of cpu_seconds
        self.exit_code = exit_code
        self.rss_kib = rss_kib
        self.stderr = stderr


def become_subreaper():
    """Makes this process adopt the orphans of its children (Linux prctl).

    Needed for honest peak RSS numbers: Linux carries the resident high-water
    mark of the process that calls exec into the new program's ru_maxrss, so a
    tool started straight from this (large) Python process would report at
    least Python's own size. Instead `setsid -f` (small) forks the tool and
    exits at once without waiting; the tool is handed to this process, which
    waits for it with os.wait4 and so gets the rusage of exactly that tool.
    """
    import ctypes
    libc = ctypes.CDLL(None, use_errno=True)
    PR_SET_CHILD_SUBREAPER = 36
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        die("prctl(PR_SET_CHILD_SUBREAPER) failed: errno %d" % ctypes.get_errno())


def run_measured(argv, stdout_path):
    """Runs argv once; returns its wall time, exit code and peak RSS.

    The tool's standard output goes to stdout_path, or to /dev/null when that
    is None; its standard input is /dev/null. The wall time runs from starting
    the launcher (a millisecond or two, the same for every tool) until the
    tool has ended.
    """
    err_path = os.path.join(WORK_DIR, "stderr.txt")
    with open(err_path, "wb") as err, open(stdout_path or os.devnull, "wb") as out:
        start = time.perf_counter()
        launcher = subprocess.Popen(["setsid", "-f"] + argv, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err)
        if launcher.wait() != 0:
            die("setsid could not start %s" % argv[0])
        # The tool is now the only child left (every earlier one was waited for).
        pid, status, usage = os.wait4(-1, 0)
        seconds = time.perf_counter() - start
    with open(err_path, "rb") as f:
        stderr = f.read(4000).decode("utf-8", "replace")
    return Run(seconds, usage.ru_utime + usage.ru_stime, os.waitstatus_to_exitcode(status),
               usage.ru_maxrss, stderr, usage.ru_stime)


def first_difference(path_a, path_b):
    """None when both files are equal, else a short description."""
    if not os.path.isfile(path_a):
        return "no output file"
    size_a, size_b = os.path.getsize(path_a), os.path.getsize(path_b)
    offset = 0
    with open(path_a, "rb") as a, open(path_b, "rb") as b:
        while True:
            block_a, block_b = a.read(MIB), b.read(MIB)
            if block_a != block_b:
                for i, (x, y) in enumerate(zip(block_a, block_b)):
                    if x != y:
                        return "differs at byte %d (sizes %d and %d)" % (offset + i, size_a, size_b)
                return "differs in length (%d and %d bytes)" % (size_a, size_b)
            if not block_a:
                return None
            offset += len(block_a)


class Tool:
    def __init__(self, name, argv, to_stdout, reports_cpu=False):
        self.name = name
        self.argv = argv  # with the placeholders IN and OUT
        self.to_stdout = to_stdout  # True: the tool writes the result to standard output
        # True: the tool prints the CPU seconds of the part it measures (the
        # codec-only run); that number, not the process's, is its CPU time.
        self.reports_cpu = reports_cpu

    def command(self, inp, out):
        argv = [inp if a == "IN" else out if a == "OUT" else a for a in self.argv]
        return argv, (out if self.to_stdout else None)


def ordana(*options):
    return Tool("ordana", [ORDANA, "IN", "OUT"] + list(options), False)


def rwloop():
    return Tool(LOOP, [RWLOOP, "IN", "OUT"], False)


def codec_only(source, destination):
    """The conversion work alone: the chain over the input held in memory."""
    return Tool(CODEC_ONLY, [CODECTIME, "IN", source, destination], True, reports_cpu=True)


def conversions(paths):
    return [
        {"name": "UTF-8 → UTF-16LE", "input": paths["multi_utf8"],
         "expected": paths["multi_utf16le"], "copy": False,
         "tools": [ordana("/i", "utf-8", "/o", "utf-16", "/nobom"),
                   Tool("iconv", ["iconv", "-f", "UTF-8", "-t", "UTF-16LE", "IN"], True),
                   Tool("uconv", ["uconv", "-f", "UTF-8", "-t", "UTF-16LE", "IN"], True),
                   rwloop(), codec_only("utf-8", "utf-16")]},
        {"name": "Windows-1252 → UTF-8", "input": paths["western_1252"],
         "expected": paths["western_utf8"], "copy": False,
         "tools": [ordana("/i", "windows-1252", "/o", "utf-8", "/nobom"),
                   Tool("iconv", ["iconv", "-f", "WINDOWS-1252", "-t", "UTF-8", "IN"], True),
                   Tool("uconv", ["uconv", "-f", "windows-1252", "-t", "UTF-8", "IN"], True),
                   rwloop(), codec_only("windows-1252", "utf-8")]},
        {"name": "UTF-16LE → UTF-8", "input": paths["multi_utf16le"],
         "expected": paths["multi_utf8"], "copy": False,
         "tools": [ordana("/i", "utf-16", "/o", "utf-8", "/nobom"),
                   Tool("iconv", ["iconv", "-f", "UTF-16LE", "-t", "UTF-8", "IN"], True),
                   Tool("uconv", ["uconv", "-f", "UTF-16LE", "-t", "UTF-8", "IN"], True),
                   rwloop(), codec_only("utf-16", "utf-8")]},
        {"name": "UTF-8 → Windows-1252", "input": paths["western_utf8"],
         "expected": paths["western_1252"], "copy": False,
         "tools": [ordana("/i", "utf-8", "/o", "windows-1252"),
                   Tool("iconv", ["iconv", "-f", "UTF-8", "-t", "WINDOWS-1252", "IN"], True),
                   Tool("uconv", ["uconv", "-f", "UTF-8", "-t", "windows-1252", "IN"], True),
                   rwloop(), codec_only("utf-8", "windows-1252")]},
        {"name": "UTF-16LE copy", "input": paths["multi_utf16le"],
         "expected": paths["multi_utf16le"], "copy": True,
         "tools": [ordana("/i", "utf-16", "/o", "utf-16", "/nobom"),
                   Tool("cp", ["cp", "IN", "OUT"], False),
                   rwloop(), codec_only("utf-16", "utf-16")]},
        {"name": "Windows-1252 → UTF-8, source auto", "input": paths["western_1252"],
         "expected": paths["western_utf8"], "copy": False, "auto": True,
         "tools": [ordana("/o", "utf-8", "/nobom"),
                   Tool("ordana /i", [ORDANA, "IN", "OUT", "/i", "windows-1252", "/o", "utf-8",
                                      "/nobom"], False)]},
    ]


def ordana_reason(argv):
    """What Ordana says about a command it refused (its messages, through a pipe)."""
    proc = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    text = proc.stdout.decode("utf-8", "replace")
    for line in text.splitlines():
        if "not available" in line or "rror" in line:
            return line.strip()
    return text.strip().splitlines()[-1] if text.strip() else ""


def remove(path):
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


def bench_conversion(conv, repeat):
    """Measures every tool of one conversion; returns one result dict per tool."""
    inp = conv["input"]
    slug = "".join(c if c.isalnum() else "_" for c in conv["name"].encode("ascii", "ignore").decode())
    results = []
    for tool in conv["tools"]:
        out = os.path.join(WORK_DIR, "out.%s.%s" % (
            slug, "".join(c if c.isalnum() else "_" for c in tool.name)))
        results.append({"tool": tool, "out": out, "runs": [], "status": "ok", "note": ""})

    # One untimed warm-up each, so that every tool meets an input in the page cache.
    for r in results:
        remove(r["out"])
        argv, stdout_path = r["tool"].command(inp, r["out"])
        run = run_measured(argv, stdout_path)
        if run.exit_code != 0:
            if r["tool"].name == "ordana" and run.exit_code in (1, 2):
                r["status"] = "n/a"
                r["note"] = ordana_reason(argv) or "not available (exit code %d)" % run.exit_code
            else:
                r["status"] = "failed"
                r["note"] = "exit code %d %s" % (run.exit_code, run.stderr.strip()[:200])
            log("  %-6s %s: %s" % (r["tool"].name, r["status"], r["note"]))

    active = [r for r in results if r["status"] == "ok"]
    for round_number in range(repeat):
        for r in active:
            if r["status"] != "ok":
                continue
            remove(r["out"])
            os.sync()  # no writeback of earlier outputs during the timed run
            argv, stdout_path = r["tool"].command(inp, r["out"])
            run = run_measured(argv, stdout_path)
            if run.exit_code != 0:
                r["status"] = "failed"
                r["note"] = "exit code %d in run %d %s" % (run.exit_code, round_number + 1,
                                                          run.stderr.strip()[:200])
                continue
            if r["tool"].reports_cpu:
                with open(r["out"], "rb") as f:
                    run.cpu_seconds = float(f.read().decode("ascii", "replace").strip() or "nan")
                run.system_seconds = 0.0
            r["runs"].append(run)
        log("  round %d/%d: %s" % (round_number + 1, repeat, ", ".join(
            "%s %.3f s" % (r["tool"].name, r["runs"][-1].seconds) for r in active
            if r["status"] == "ok" and r["runs"])))

    # Output checks: Ordana against iconv (the input for the copy); iconv and
    # uconv against the text the generator wrote in the target encoding.
    reference = conv["input"] if conv["copy"] else None
    for r in results:
        if r["tool"].name == "iconv" and r["status"] == "ok":
            reference = r["out"]
    for r in results:
        if r["status"] != "ok":
            r["check"] = "—"
            continue
        name = r["tool"].name
        if name == "ordana":
            if reference is None:
                diff = first_difference(r["out"], conv["expected"])
                label = "generated text"
            else:
                diff = first_difference(r["out"], reference)
                label = "input" if conv["copy"] else "iconv"
        elif name == "uconv":
            diff = first_difference(r["out"], reference or conv["expected"])
            label = "iconv" if reference else "generated text"
        elif name == LOOP:
            diff = first_difference(r["out"], conv["input"])
            label = "input"
        elif name == CODEC_ONLY:
            r["check"] = "(no output)"
            continue
        else:
            diff = first_difference(r["out"], conv["expected"])
            label = "generated text" if name in ("iconv", "ordana /i") else "input"
        r["check"] = ("= " + label) if diff is None else ("**MISMATCH** vs %s: %s" % (label, diff))
        r["mismatch"] = diff is not None
        if diff is not None:
            log("  !!! %s output %s" % (name, r["check"]))

    for r in results:
        remove(r["out"])
    return results


# --------------------------------------------------------------------------
# Report


def first_line(argv):
    try:
        proc = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        lines = proc.stdout.decode("utf-8", "replace").strip().splitlines()
        return lines[0].strip() if lines else "?"
    except OSError:
        return "?"


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.lower().startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "?"


def git_revision():
    rev = first_line(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"])
    dirty = subprocess.run(["git", "-C", ROOT, "status", "--porcelain", "--untracked-files=no"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.strip()
    untracked = subprocess.run(["git", "-C", ROOT, "ls-files", "--others", "--exclude-standard",
                                "src"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.strip()
    extra = []
    if dirty:
        extra.append("modified files")
    if untracked:
        extra.append("untracked sources")
    return rev + (" + " + " and ".join(extra) if extra else "")


def fmt_mib(n):
    return "%.1f MiB" % (n / MIB)


def report(all_results, convs, paths, args, started, floor_kib):
    lines = []
    add = lines.append
    add("# Ordana benchmark")
    add("")
    add("Machine: %s; CPU: %s; %d cores; %s; %s." % (
        first_line(["uname", "-srm"]), cpu_model(), os.cpu_count() or 0,
        first_line(["iconv", "--version"]), first_line(["uconv", "--version"])))
    add("")
    add("Run: %s; Ordana %s (release build, bench/.build); %d timed repetitions per command "
        "after one untimed warm-up, the commands taking turns round by round; ratios and "
        "targets from the median CPU time (user + system), as the machine is shared with "
        "other work; inputs: %s." % (
            started.strftime("%Y-%m-%d %H:%M UTC"), git_revision(), args.repeat,
            ", ".join("%s %s" % (label, fmt_mib(os.path.getsize(paths[key])))
                      for key, label in INPUT_LABELS)))
    add("")
    add("MB/s is input bytes (10^6) per second of the median wall time. \"Ordana ÷ tool\" "
        "is the tool's median CPU time divided by Ordana's (above 1: Ordana is faster). "
        "Spread is (max − min) / median of the timed runs; Best is the fastest run and CPU "
        "the median user + system time of the tool's process, both less sensitive to "
        "other load on the machine than the median wall time. Peak RSS is the largest "
        "ru_maxrss of the timed runs, from os.wait4 on the tool's own process (for "
        "scale: `true` measures %.1f MiB)." % (floor_kib / 1024.0))
    add("")
    add("| Conversion | Tool | Median s | MB/s | Ordana ÷ tool | Peak RSS MiB | Spread | Best s "
        "| CPU s | Output |")
    add("|---|---|---:|---:|---:|---:|---:|---:|---:|---|")
    noisy = []
    targets = []
    floors = []
    bad = False
    for conv, results in zip(convs, all_results):
        size = os.path.getsize(conv["input"])
        ordana_result = results[0]
        # Ratios and targets rest on the median CPU time: the machine is shared.
        ordana_median = (statistics.median(x.cpu_seconds for x in ordana_result["runs"])
                         if ordana_result["status"] == "ok" and ordana_result["runs"] else None)
        for r in results:
            name = r["tool"].name
            if r["status"] != "ok" or not r["runs"]:
                text = "n/a" if r["status"] == "n/a" else "**FAILED**"
                add("| %s | %s | %s | | | | | | | %s |" % (conv["name"], name, text,
                                                        r["note"].replace("|", "\\|")))
                if name == "ordana" and r["status"] != "n/a":
                    bad = True
                continue
            if name == CODEC_ONLY:
                # Not a command of its own: its CPU time goes into the floor table.
                r["cpu"] = statistics.median(x.cpu_seconds for x in r["runs"])
                continue
            times = [x.seconds for x in r["runs"]]
            median = statistics.median(times)
            spread = (max(times) - min(times)) / median if median > 0 else 0.0
            rss = max(x.rss_kib for x in r["runs"]) / 1024.0
            cpu = statistics.median(x.cpu_seconds for x in r["runs"])
            r["median"], r["rss"], r["cpu"] = median, rss, cpu
            ratio = "—" if name == "ordana" else (
                "%.2f×" % (cpu / ordana_median) if ordana_median else "n/a")
            spread_text = "%.0f%%" % (spread * 100)
            if spread > NOISE_LIMIT:
                spread_text += " ⚠"
                noisy.append("%s / %s (spread %.0f%%)" % (conv["name"], name, spread * 100))
            add("| %s | %s | %.3f | %.0f | %s | %.1f | %s | %.3f | %.3f | %s |" % (
                conv["name"], name, median, size / median / 1e6, ratio, rss, spread_text,
                min(times), cpu, r["check"]))
            if name == "ordana" and r.get("mismatch"):
                bad = True

        # Targets for this conversion.
        def noisy_mark(*rs):
            return " (noisy)" if any(x.get("median") and
                                     (max(y.seconds for y in x["runs"]) - min(y.seconds for y in x["runs"]))
                                     / x["median"] > NOISE_LIMIT for x in rs) else ""
        wrong = ordana_result.get("mismatch")
        by_name = {r["tool"].name: r for r in results}
        floor_target = None
        loop, codec = by_name.get(LOOP), by_name.get(CODEC_ONLY)
        if (ordana_median is not None and loop and loop.get("cpu") is not None
                and codec and codec.get("cpu") is not None):
            # The floor: what reading and writing the bytes costs any
            # converter, plus Ordana's conversion work measured on its own.
            kernel = statistics.median(x.system_seconds for x in loop["runs"])
            floors.append((conv["name"], loop["cpu"], kernel, codec["cpu"], ordana_median))
            if not conv["copy"]:
                bound = loop["cpu"] + codec["cpu"]
                factor = ordana_median / bound if bound > 0 else float("inf")
                floor_target = (conv["name"],
                                "CPU ≤ %.1f× (read/write loop + codec only)" % TARGET_FLOOR_FACTOR,
                                "%.2f× (%.3f s vs %.3f + %.3f s)" % (
                                    factor, ordana_median, loop["cpu"], codec["cpu"]),
                                "PASS" if factor <= TARGET_FLOOR_FACTOR else "FAIL")
        for r in results[1:]:
            name = r["tool"].name
            if name == CODEC_ONLY or (name == LOOP and not conv["copy"]):
                continue
            if conv["copy"] and name != LOOP:
                continue  # cp copies inside the kernel: shown, not a target
            if conv.get("auto"):
                goal = "auto adds ≤ %.0f%% to %s" % (TARGET_AUTO_EXTRA * 100, name)
                if ordana_median is None or r.get("cpu") is None:
                    targets.append((conv["name"], goal, "n/a", "n/a"))
                    continue
                extra = ordana_median / r["cpu"] - 1.0
                targets.append((conv["name"], goal, "+%.0f%% (%.3f s vs %.3f s CPU)" % (
                    extra * 100, ordana_median, r["cpu"]),
                    "PASS" if extra <= TARGET_AUTO_EXTRA else "FAIL"))
                continue
            if conv["copy"]:
                goal = "CPU time ≤ %.1f× the read/write loop's" % TARGET_COPY_FACTOR
            else:
                goal = "throughput ≥ %.0f× %s's" % (TARGET_SPEEDUP, name)
            if ordana_median is None or r.get("median") is None:
                targets.append((conv["name"], goal, "n/a", "n/a"))
                continue
            if conv["copy"]:
                factor = ordana_median / r["cpu"]
                ok = factor <= TARGET_COPY_FACTOR
                measured = "%.2f× the loop's CPU time" % factor
            else:
                factor = r["cpu"] / ordana_median
                ok = factor >= TARGET_SPEEDUP
                measured = "%.2f×" % factor
            verdict = ("FAIL (wrong output)" if wrong else "PASS" if ok else "FAIL")
            targets.append((conv["name"], goal, measured, verdict + noisy_mark(ordana_result, r)))
        if floor_target:
            targets.append(floor_target)
        goal = "Ordana peak RSS ≤ %.0f MiB" % TARGET_RSS_MIB
        if ordana_result.get("rss") is None:
            targets.append((conv["name"], goal, "n/a", "n/a"))
        else:
            targets.append((conv["name"], goal, "%.1f MiB" % ordana_result["rss"],
                            "PASS" if ordana_result["rss"] <= TARGET_RSS_MIB else "FAIL"))

    add("")
    if noisy:
        add("**Warning: the machine was too noisy to trust these rows** (spread above %.0f%% "
            "of the median): %s." % (NOISE_LIMIT * 100, "; ".join(noisy)))
        add("")
    if bad:
        add("**WARNING: Ordana failed or wrote a wrong output in at least one row (see the "
            "Output column).**")
        add("")
    add("## Targets")
    add("")
    add("Every conversion at least %.0f× the throughput of iconv and of uconv, or, where "
        "it stays below, Ordana's CPU time within %.1f× of the floor (the read/write loop) "
        "plus the codec-only time; the UTF-16LE copy within %.1f× of the read/write loop's "
        "CPU time; Ordana's peak RSS at most %.0f MiB." % (
            TARGET_SPEEDUP, TARGET_FLOOR_FACTOR, TARGET_COPY_FACTOR, TARGET_RSS_MIB))
    add("")
    add("| Conversion | Target | Measured | Result |")
    add("|---|---|---:|---|")
    for row in targets:
        add("| %s | %s | %s | %s |" % row)
    add("")
    add("## The floor")
    add("")
    add("The read/write loop (`bench/rwloop.cpp`) reads each input and writes it out in "
        "2 MiB chunks in user space, as Ordana reads, and does nothing else: its CPU time "
        "(almost all of it the kernel's copies into and out of the page cache) is what "
        "any streaming converter pays before it converts a byte. `cp` and `cat` are no "
        "such floor: they let the kernel copy (`copy_file_range`). Kernel is the loop's "
        "system time, the kernel-only part of the floor. Codec only is the CPU time of "
        "Ordana's chain for the same two sets converting the input already in memory, "
        "in the same 2 MiB chunks, to /dev/null (`bench/codectime.cpp`): the conversion "
        "work without the copies. Ordana's own process should cost about the sum.")
    add("")
    add("| Conversion | Loop CPU s | of it kernel s | Codec only s | Loop + codec s "
        "| Ordana CPU s | Ordana ÷ (loop + codec) | Ordana ÷ loop |")
    add("|---|---:|---:|---:|---:|---:|---:|---:|")
    for name, loop_cpu, kernel, codec_cpu, ordana_cpu in floors:
        bound = loop_cpu + codec_cpu
        add("| %s | %.3f | %.3f | %.3f | %.3f | %.3f | %.2f× | %.2f× |" % (
            name, loop_cpu, kernel, codec_cpu, bound, ordana_cpu,
            ordana_cpu / bound if bound else 0, ordana_cpu / loop_cpu if loop_cpu else 0))
    add("")
    add("Commands (IN and OUT stand for the files):")
    add("")
    for conv in convs:
        for tool in conv["tools"]:
            argv = [os.path.relpath(a, ROOT) if a in (ORDANA, RWLOOP, CODECTIME) else a
                    for a in tool.argv]
            shown = " ".join(argv) + (" > OUT" if tool.to_stdout and not tool.reports_cpu else "")
            if tool.name.startswith("ordana"):
                shown += " > /dev/null"
            add("- %s, %s: `%s`" % (conv["name"], tool.name, shown))
    add("")
    return "\n".join(lines), bad


OWN_HEADINGS = ("# Ordana benchmark", "## Targets", "## The floor")


def kept_sections(path):
    """The part of an earlier report this script does not write: the analysis
    and the sections of bench/transforms.py and bench/many_files.py, from the
    first heading that is not one of this script's own to the end."""
    try:
        with open(path, encoding="utf-8") as f:
            old = f.read().splitlines()
    except FileNotFoundError:
        return ""
    for k, line in enumerate(old):
        if (line.startswith("#") or line.startswith("<!--")) and \
                not line.startswith(OWN_HEADINGS):
            return "\n" + "\n".join(old[k:]) + "\n"
    return ""

def squeeze(name):
    """A conversion's name without case and punctuation, for --only."""
    return "".join(c for c in name.lower() if c.isascii() and c.isalnum())


def main():
    parser = argparse.ArgumentParser(description="Times Ordana against iconv, uconv and cp.")
    parser.add_argument("--size-mib", type=int, default=64,
                        help="size of each generated input in MiB (default 64)")
    parser.add_argument("--repeat", type=int, default=5,
                        help="timed repetitions per command (default 5)")
    parser.add_argument("--output", help="also write the report to this file")
    parser.add_argument("--no-build", action="store_true",
                        help="use the existing bench/.build/ordana without building")
    parser.add_argument("--only", action="append", metavar="CONVERSION",
                        help="measure only this row group, named as in the report with "
                        "any punctuation, e.g. 'UTF-8 -> Windows-1252' (may be repeated)")
    args = parser.parse_args()
    if args.size_mib < 1 or args.repeat < 1:
        die("--size-mib and --repeat must be at least 1")

    started = datetime.datetime.now(datetime.timezone.utc)
    os.chdir(ROOT)
    become_subreaper()
    ensure_tools()
    if args.no_build:
        if not os.access(ORDANA, os.X_OK):
            die("no " + ORDANA + "; run without --no-build")
    else:
        build_ordana()
    paths = make_inputs(args.size_mib)
    floor_kib = run_measured(["true"], None).rss_kib
    convs = conversions(paths)
    if args.only:
        wanted = {squeeze(name) for name in args.only}
        unknown = wanted - {squeeze(conv["name"]) for conv in convs}
        if unknown:
            die("--only: no such conversion; the names are: " +
                "; ".join(conv["name"] for conv in convs))
        convs = [conv for conv in convs if squeeze(conv["name"]) in wanted]
    all_results = []
    for conv in convs:
        log("%s (%s, %s):" % (conv["name"], os.path.basename(conv["input"]),
                              fmt_mib(os.path.getsize(conv["input"]))))
        all_results.append(bench_conversion(conv, args.repeat))

    text, bad = report(all_results, convs, paths, args, started, floor_kib)
    print(text)
    if args.output:
        text += kept_sections(args.output)
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text)
        log("Wrote " + args.output)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
