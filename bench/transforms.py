#!/usr/bin/env python3
"""Times Ordana's text transforms on large generated files.

Usage: python3 bench/transforms.py [--size-mib N] [--repeat R] [--results bench/RESULTS.md]

Two rows, each on a file of at least N MiB (default 64):

  * /eol=unix on UTF-8 text with CR LF line ends, against dos2unix (Debian
    package dos2unix, installed when missing), the tool a user would take;
  * /htmlentity=enc on UTF-8 Western prose with accents, typographic
    punctuation, some Greek and markup, against the same Ordana conversion
    without the transform (there is no common command-line tool for it), so
    the ratio is what the transform costs.

Each command runs once untimed, then R times (default 5), the commands taking
turns round by round (their order turned by one each round), with the
previous output deleted and `sync` called before each timed run. Reported:
median wall time, throughput (10^6 input bytes per second), the median CPU
time (user + system), the ratio of the other command's CPU time to Ordana's,
the load average when the report was made, peak resident memory (ru_maxrss of the tool's own process), the spread
(max - min) / median (above 25 % flagged as noisy), and an output check
against a reference computed here with Python.

With --results the Markdown table replaces the "## Transforms" section of
that file (appended when there is none); the rest of the file is left as it
is, re-read right before writing. Builds a release binary in
$TMPDIR/ordana-bench-transforms/build unless --ordana names one; inputs and
outputs go to $TMPDIR/ordana-bench-transforms/work (about 5 x N MiB).

Exit code: 0 report made with every output correct; 1 a wrong output or a
failed run; 2 the benchmark could not run. Python 3 standard library only.
"""

import argparse
import ctypes
import datetime
import html.entities
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BASE = os.path.join(tempfile.gettempdir(), "ordana-bench-transforms")
MIB = 1024 * 1024
NOISE_LIMIT = 0.25
SECTION = "## Transforms"
GENERATOR_VERSION = 1


def log(message):
    print(message, file=sys.stderr, flush=True)


def die(message):
    log("transforms.py: " + message)
    sys.exit(2)


def ensure_dos2unix():
    if shutil.which("dos2unix"):
        return
    prefix = [] if os.geteuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    log("Installing dos2unix ...")
    install = prefix + ["apt-get", "install", "-y", "-qq", "dos2unix"]
    if subprocess.run(install, env=env, stdout=sys.stderr).returncode != 0:
        subprocess.run(prefix + ["apt-get", "update", "-qq"], env=env, stdout=sys.stderr)
        subprocess.run(install, env=env, stdout=sys.stderr)
    if not shutil.which("dos2unix"):
        die("dos2unix is missing and could not be installed")


def build_ordana(build_dir):
    log("Building the release binary in %s ..." % build_dir)
    for step in (["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja",
                  "-DCMAKE_BUILD_TYPE=Release", "-DORDANA_BUILD_TESTS=OFF"],
                 ["cmake", "--build", build_dir, "--target", "ordana"]):
        if subprocess.run(step, stdout=sys.stderr).returncode != 0:
            die("the build failed: " + " ".join(step))
    return os.path.join(build_dir, "ordana")


# --------------------------------------------------------------------------
# Inputs

WORDS = ("the quick brown fox jumps over a lazy dog while every converter keeps each "
         "character exactly as it was meant to be written in letters reports and pages").split()
ACCENTED = ("café naïve résumé façade jalapeño señor Ångström Øresund crème brûlée über "
            "Straße déjà Málaga São Genève Ærø Besançon Bogotá Köln Œuvre Šibenik").split()
GREEK = "αβγ Ωμέγα λόγος θεός".split()
PUNCTUATION = ["€", "“", "”", "‘", "’", "–", "—", "…", "•", "™", "©", "®", "«", "»", "½",
               "°", "±", "§", "&", "<b>", "</b>", "\"", "'"]


def prose_line(rng):
    words = []
    for _ in range(rng.randint(6, 16)):
        r = rng.random()
        if r < 0.10:
            words.append(rng.choice(ACCENTED))
        elif r < 0.13:
            words.append(rng.choice(PUNCTUATION))
        elif r < 0.14:
            words.append(rng.choice(GREEK))
        else:
            words.append(rng.choice(WORDS))
    return " ".join(words)


def write_input(path, size, line_end, seed):
    """Deterministic UTF-8 prose of at least `size` bytes; returns its text."""
    stamp = path + ".stamp"
    wanted = "%d %d %r %d" % (GENERATOR_VERSION, size, line_end, seed)
    if os.path.exists(path) and os.path.exists(stamp):
        with open(stamp) as f:
            if f.read() == wanted:
                with open(path, "rb") as g:
                    return g.read().decode("utf-8")
    rng = random.Random(seed)
    lines = []
    total = 0
    while total < size:
        line = prose_line(rng) + line_end
        lines.append(line)
        total += len(line.encode("utf-8"))
    content = "".join(lines)
    with open(path, "wb") as f:
        f.write(content.encode("utf-8"))
    with open(stamp, "w") as f:
        f.write(wanted)
    return content


def entity_reference(content):
    table = {cp: "&%s;" % name for name, cp in html.entities.name2codepoint.items()}
    return content.translate(table).encode("utf-8")


# --------------------------------------------------------------------------
# Measuring


def become_subreaper():
    """Adopts orphaned grandchildren, so a tool started through `setsid -f`
    is waited for here and its ru_maxrss is its own, not this Python's
    (Linux carries the exec-ing process's high-water mark into the child)."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(36, 1, 0, 0, 0) != 0:  # PR_SET_CHILD_SUBREAPER
        die("prctl(PR_SET_CHILD_SUBREAPER) failed: errno %d" % ctypes.get_errno())


def run_once(argv, work):
    err_path = os.path.join(work, "stderr.txt")
    with open(err_path, "wb") as err, open(os.devnull, "wb") as out:
        start = time.perf_counter()
        launcher = subprocess.Popen(["setsid", "-f"] + argv, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err)
        if launcher.wait() != 0:
            die("setsid could not start " + argv[0])
        _, status, usage = os.wait4(-1, 0)
        seconds = time.perf_counter() - start
    return (seconds, usage.ru_utime + usage.ru_stime, os.waitstatus_to_exitcode(status),
            usage.ru_maxrss)


class Command:
    def __init__(self, label, argv, output):
        self.label = label
        self.argv = argv
        self.output = output
        self.times = []
        self.cpu = []  # user + system seconds of each timed run
        self.rss_kib = 0
        self.failed = None
        self.check = None


def measure(commands, repeat, work):
    for rnd in range(repeat + 1):
        # The commands take turns: the order is turned by one each round.
        shift = rnd % len(commands)
        for command in commands[shift:] + commands[:shift]:
            if os.path.exists(command.output):
                os.remove(command.output)
            os.sync()
            seconds, cpu, code, rss = run_once(command.argv, work)
            if code != 0 and command.failed is None:
                command.failed = "exit code %d" % code
            if rnd > 0:  # the first round only warms the page cache
                command.times.append(seconds)
                command.cpu.append(cpu)
                command.rss_kib = max(command.rss_kib, rss)


def check(path, reference):
    if not os.path.exists(path):
        return "no output"
    with open(path, "rb") as f:
        data = f.read()
    if data == reference:
        return None
    at = next((k for k, (a, b) in enumerate(zip(data, reference)) if a != b),
              min(len(data), len(reference)))
    return "MISMATCH at byte %d (%d bytes, expected %d)" % (at, len(data), len(reference))


# --------------------------------------------------------------------------
# Report


def tool_version(argv):
    try:
        out = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT).stdout
        return out.decode("utf-8", "replace").strip().splitlines()[0]
    except (OSError, IndexError):
        return "unknown"


def git_revision():
    try:
        head = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        head = head.stdout.decode().strip()
        dirty = subprocess.run(["git", "-C", ROOT, "status", "--porcelain"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.strip()
        return head + (" + uncommitted changes" if dirty else "")
    except OSError:
        return "unknown"


def make_report(rows, args, input_sizes):
    lines = [SECTION, ""]
    lines.append("Made by `bench/transforms.py`: %s UTC; Ordana %s (release build); %s; "
                 "%d timed repetitions after one untimed warm-up, the commands taking turns, "
                 "medians; load average %s; inputs: "
                 "UTF-8 prose with CR LF line ends %.1f MiB, UTF-8 Western prose with markup "
                 "%.1f MiB; %d cores."
                 % (datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M"), git_revision(),
                    tool_version(["dos2unix", "--version"]), args.repeat,
                    "%.1f" % os.getloadavg()[0],
                    input_sizes[0] / MIB, input_sizes[1] / MIB, os.cpu_count() or 0))
    lines.append("")
    lines.append("Ratio: the other command's median CPU time (user + system) divided by "
                 "Ordana's (above 1: Ordana is faster); CPU time moves far less than wall time "
                 "when the machine is shared. For `/htmlentity=enc` the other command is "
                 "Ordana's own UTF-8 copy without the transform, so the ratio is the share of "
                 "speed the transform keeps. MB/s is from the median wall time.")
    lines.append("")
    lines.append("| Transform | Command | Median s | MB/s | CPU s | Ratio | Peak RSS MiB | Spread "
                 "| Output |")
    lines.append("|---|---|---:|---:|---:|---:|---:|---:|---|")
    noisy = []
    for title, size, ordana_cmd, other in rows:
        base = statistics.median(ordana_cmd.cpu)
        for command in (ordana_cmd, other):
            median = statistics.median(command.times)
            cpu = statistics.median(command.cpu)
            spread = (max(command.times) - min(command.times)) / median if median else 0.0
            mark = ""
            if spread > NOISE_LIMIT:
                mark = " ⚠"
                noisy.append("%s / %s" % (title, command.label))
            ratio = "—" if command is ordana_cmd else "%.2f×" % (cpu / base)
            status = command.failed or command.check or "correct"
            lines.append("| %s | %s | %.3f | %.0f | %.3f | %s | %.1f | %.0f%%%s | %s |"
                         % (title, command.label, median, size / 1e6 / median, cpu, ratio,
                            command.rss_kib / 1024.0, spread * 100, mark, status))
    if noisy:
        lines.append("")
        lines.append("**The machine was too noisy to trust these rows** (spread above 25%%): %s."
                     % "; ".join(noisy))
    lines.append("")
    return "\n".join(lines)


def write_section(path, section):
    """Replaces (or appends) the Transforms section, keeping everything else."""
    current = ""
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            current = f.read()
    lines = current.split("\n")
    start = next((k for k, line in enumerate(lines) if line.strip() == SECTION), None)
    if start is None:
        text = current.rstrip("\n") + ("\n\n" if current.strip() else "") + section
    else:
        # The section ends at the next heading or at the marker of a section
        # another script writes (bench/many_files.py's begins with one).
        end = next((k for k in range(start + 1, len(lines))
                    if lines[k].startswith("## ") or lines[k].startswith("<!-- ")), len(lines))
        before = "\n".join(lines[:start]).rstrip("\n")
        after = "\n".join(lines[end:]).strip("\n")
        text = ((before + "\n\n" if before else "") + section
                + ("\n" + after + "\n" if after else ""))
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        f.write(text if text.endswith("\n") else text + "\n")
    os.replace(temporary, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size-mib", type=float, default=64)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--results", metavar="FILE", help="write the section into FILE")
    parser.add_argument("--ordana", metavar="PATH", help="use this binary instead of building")
    parser.add_argument("--work", metavar="DIR", default=os.path.join(BASE, "work"))
    args = parser.parse_args()
    if args.repeat < 1:
        die("--repeat must be at least 1")

    ensure_dos2unix()
    for tool in ("setsid", "cmake", "ninja"):
        if args.ordana and tool in ("cmake", "ninja"):
            continue
        if not shutil.which(tool):
            die(tool + " is missing")
    ordana = args.ordana or build_ordana(os.path.join(BASE, "build"))
    if not os.access(ordana, os.X_OK):
        die("no program at " + ordana)
    os.makedirs(args.work, exist_ok=True)
    become_subreaper()

    size = int(args.size_mib * MIB)
    crlf_path = os.path.join(args.work, "crlf.txt")
    prose_path = os.path.join(args.work, "prose.txt")
    log("Writing the inputs ...")
    crlf_text = write_input(crlf_path, size, "\r\n", 1)
    prose_text = write_input(prose_path, size, "\n", 2)
    eol_reference = crlf_text.replace("\r\n", "\n").encode("utf-8")
    entity_reference_bytes = entity_reference(prose_text)
    prose_bytes = prose_text.encode("utf-8")
    del crlf_text, prose_text

    utf8 = ["/scs=utf-8", "/dcs=utf-8", "/nobom", "/s"]

    def out(name):
        return os.path.join(args.work, name)

    eol_ordana = Command("ordana /eol=unix", [ordana, crlf_path, out("eol-ordana.txt")] + utf8
                         + ["/eol=unix"], out("eol-ordana.txt"))
    eol_dos2unix = Command("dos2unix", ["dos2unix", "-q", "-n", crlf_path, out("eol-dos2unix.txt")],
                           out("eol-dos2unix.txt"))
    enc_ordana = Command("ordana /htmlentity=enc", [ordana, prose_path, out("enc-ordana.txt")]
                         + utf8 + ["/htmlentity=enc"], out("enc-ordana.txt"))
    enc_copy = Command("ordana (no transform)", [ordana, prose_path, out("enc-copy.txt")] + utf8,
                       out("enc-copy.txt"))

    log("Timing /eol=unix against dos2unix ...")
    measure([eol_ordana, eol_dos2unix], args.repeat, args.work)
    eol_ordana.check = check(eol_ordana.output, eol_reference)
    eol_dos2unix.check = check(eol_dos2unix.output, eol_reference)
    log("Timing /htmlentity=enc ...")
    measure([enc_ordana, enc_copy], args.repeat, args.work)
    enc_ordana.check = check(enc_ordana.output, entity_reference_bytes)
    enc_copy.check = check(enc_copy.output, prose_bytes)
    for command in (eol_ordana, eol_dos2unix, enc_ordana, enc_copy):
        if os.path.exists(command.output):
            os.remove(command.output)

    rows = [("`/eol=unix`, CR LF → LF", os.path.getsize(crlf_path), eol_ordana, eol_dos2unix),
            ("`/htmlentity=enc`", os.path.getsize(prose_path), enc_ordana, enc_copy)]
    section = make_report(rows, args, (os.path.getsize(crlf_path), os.path.getsize(prose_path)))
    print(section)
    if args.results:
        write_section(args.results, section)
        log("Wrote the %s section of %s" % (SECTION, args.results))
    bad = [c for c in (eol_ordana, eol_dos2unix, enc_ordana, enc_copy) if c.failed or c.check]
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
