#!/usr/bin/env python3
"""Times Ordana on many small files, with the automatic detection, against
the same files named with /i and against an iconv shell loop.

Usage: python3 bench/many_files.py [--files N] [--repeat R] [--write bench/RESULTS.md]

Writes N files of 1 to 8 KiB of Western text in Windows-1252 (curly quotes,
euro signs, accented words: text the detection must tell from ISO-8859-15
and the DOS sets by the statistics files) into bench/.work/many/in, then runs
three commands over all of them, round by round in alternating order, R timed
rounds after one untimed warm-up:

- `ordana 'in/*.txt' out /o utf-8 /nobom /y`      (source `auto`, one run)
- `ordana 'in/*.txt' out /i windows-1252 ...`     (the set named, one run)
- `sh -c 'for f in in/*.txt; do iconv -f WINDOWS-1252 -t UTF-8 "$f" > out/...; done'`

and reports the median CPU time (user + system of the command and every
process it waited for, from os.wait4) per file. With --write the rows go into
the "Many small files" section of the report file (between its markers),
leaving the rest of the file alone. Every output of the `auto` run must equal
iconv's; otherwise the script says which files differ and exits with 1.

Uses bench/run.py's release build (bench/.build) unless --ordana is given.
Python 3 standard library only.
"""

import argparse
import datetime
import os
import random
import shutil
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run  # noqa: E402  (the build, the text generator and the measuring)

MANY_DIR = os.path.join(run.WORK_DIR, "many")
BEGIN = "<!-- many files begin -->"
END = "<!-- many files end -->"
TARGET_MS_PER_FILE = 1.0


def make_files(count):
    """count files of 1-8 KiB of Western Windows-1252 text; reused when the
    same count was written before."""
    directory = os.path.join(MANY_DIR, "in")
    stamp = os.path.join(MANY_DIR, "stamp")
    wanted = "generator %d files %d" % (run.GENERATOR_VERSION, count)
    if os.path.isdir(directory) and os.path.exists(stamp) and open(stamp).read() == wanted:
        run.log("Reusing the %d files in %s" % (count, directory))
        return directory
    shutil.rmtree(MANY_DIR, ignore_errors=True)
    os.makedirs(directory)
    rng = random.Random(10000)
    pool = [run.western_line(rng) for _ in range(5000)]
    total = 0
    for k in range(count):
        size = rng.randint(1024, 8192)
        data = b""
        while len(data) < size:
            data += rng.choice(pool).encode("cp1252")
        data = data[:size]
        # Cut at the last line end, so that no file ends in half a word.
        cut = data.rfind(b"\n")
        if cut > 512:
            data = data[:cut + 1]
        with open(os.path.join(directory, "f%05d.txt" % k), "wb") as f:
            f.write(data)
        total += len(data)
    with open(stamp, "w") as f:
        f.write(wanted)
    run.log("Wrote %d files, %.1f MiB, into %s" % (count, total / run.MIB, directory))
    return directory


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def commands(ordana, inputs):
    pattern = os.path.join(inputs, "*.txt")
    out = {name: os.path.join(MANY_DIR, "out-" + name) for name in ("auto", "named", "iconv")}
    loop = ('for f in "$1"/*.txt; do iconv -f WINDOWS-1252 -t UTF-8 "$f" > "$2/${f##*/}" '
            '|| exit 1; done')
    return [
        ("ordana, source auto", "auto", out["auto"],
         [ordana, pattern, out["auto"], "/o", "utf-8", "/nobom", "/y", "/s"]),
        ("ordana /i windows-1252", "named", out["named"],
         [ordana, pattern, out["named"], "/i", "windows-1252", "/o", "utf-8", "/nobom", "/y",
          "/s"]),
        ("iconv shell loop", "iconv", out["iconv"],
         ["sh", "-c", loop, "sh", inputs, out["iconv"]]),
    ]


def measure(cmds, repeat):
    """{key: [Run]}: one untimed warm-up round, then `repeat` rounds, the
    order of the commands turned by one each round."""
    results = {key: [] for _, key, _, _ in cmds}
    for round_number in range(repeat + 1):
        shift = round_number % len(cmds)
        for label, key, out, argv in cmds[shift:] + cmds[:shift]:
            fresh(out)
            result = run.run_measured(argv, None)
            if result.exit_code != 0:
                run.die("%s failed with exit code %d: %s" % (label, result.exit_code,
                                                             result.stderr))
            if round_number > 0:
                results[key].append(result)
        run.log("round %d of %d done" % (round_number, repeat))
    return results


def compare_outputs(inputs, a, b):
    names = sorted(os.listdir(inputs))
    differ = []
    for name in names:
        with open(os.path.join(a, name), "rb") as f, open(os.path.join(b, name), "rb") as g:
            if f.read() != g.read():
                differ.append(name)
    return len(names), differ


def report(cmds, results, count, inputs, repeat, ordana):
    total = sum(os.path.getsize(os.path.join(inputs, n)) for n in os.listdir(inputs))
    rows = []
    medians = {}
    for label, key, _, argv in cmds:
        cpu = statistics.median(r.cpu_seconds for r in results[key])
        wall = statistics.median(r.seconds for r in results[key])
        medians[key] = cpu
        rows.append("| %s | %.2f | %.3f | %.2f | %.1f |" % (
            label, cpu, cpu * 1000 / count, wall,
            max(r.rss_kib for r in results[key]) / 1024))
    auto_ms = medians["auto"] * 1000 / count
    verdict = "PASS" if auto_ms <= TARGET_MS_PER_FILE else "FAIL"
    when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    lines = [
        BEGIN,
        "## Many small files",
        "",
        "Run: %s; Ordana %s (%s); %d files of 1-8 KiB of Western text in "
        "Windows-1252 (%.1f MiB in all), converted to UTF-8 by one Ordana run over "
        "the pattern and by an iconv shell loop (one process per file); %d timed rounds "
        "after one untimed warm-up, the order of the commands turned each round. CPU is "
        "user + system time of the command and everything it waited for, the median of "
        "the rounds; wall times include waiting for the disk and for other work on the "
        "machine, so the target is set in CPU time. Reproduce: `python3 bench/many_files.py "
        "--files %d --repeat %d --write bench/RESULTS.md`." % (when, run.git_revision(), os.path.relpath(
            ordana, run.ROOT), count, total / run.MIB, repeat, count, repeat),
        "",
        "| Command | CPU s | CPU ms per file | Median wall s | Peak RSS MiB |",
        "|---|---:|---:|---:|---:|",
    ] + rows + [
        "",
        "Target: with the source `auto`, at most %.1f ms of CPU time per file: %.3f ms, "
        "%s. The detection costs %.3f ms per file over naming the set "
        "(%.1f× less CPU time than the iconv loop)." % (
            TARGET_MS_PER_FILE, auto_ms, verdict,
            (medians["auto"] - medians["named"]) * 1000 / count,
            medians["iconv"] / medians["auto"]),
        END,
    ]
    return "\n".join(lines) + "\n"


def write_section(path, section):
    text = open(path, encoding="utf-8").read() if os.path.exists(path) else ""
    if BEGIN in text and END in text:
        start = text.index(BEGIN)
        end = text.index(END) + len(END) + 1
        text = text[:start] + section + text[end:]
    else:
        text = text.rstrip("\n") + "\n\n" + section
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", type=int, default=10000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--ordana", help="the program to time (default: build bench/.build)")
    parser.add_argument("--write", help="put the rows into this report file")
    args = parser.parse_args()
    run.ensure_tools()
    ordana = os.path.abspath(args.ordana) if args.ordana else run.ORDANA
    if not args.ordana:
        run.build_ordana()
    run.become_subreaper()
    inputs = make_files(args.files)
    cmds = commands(ordana, inputs)
    results = measure(cmds, args.repeat)
    count, differ = compare_outputs(inputs, os.path.join(MANY_DIR, "out-auto"),
                                    os.path.join(MANY_DIR, "out-iconv"))
    section = report(cmds, results, args.files, inputs, args.repeat, ordana)
    print(section)
    if args.write:
        write_section(args.write, section)
    if differ:
        run.log("%d of %d outputs of the auto run differ from iconv's: %s"
                % (len(differ), count, " ".join(differ[:20])))
        return 1
    run.log("all %d outputs of the auto run equal iconv's" % count)
    return 0


if __name__ == "__main__":
    sys.exit(main())
