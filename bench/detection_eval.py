#!/usr/bin/env python3
"""Accuracy of Ordana's automatic character set detection on held-out text,
side by side with uchardet.

    python3 bench/detection_eval.py                        # Python model of the detection
    python3 bench/detection_eval.py --ordana build/ordana  # the real program as well
    python3 bench/detection_eval.py --ordana build/ordana --write bench/DETECTION.md

The texts are the documents that tools/train_stats.py holds out from training
(split by document name, the same in every language, so not even a translation
of a held-out page was trained on): pieces of 1 KiB to 4 KiB cut at line ends,
at most two per document, each encoded into every character set that really
serves its language and that encodes the piece without loss.  Pieces of pure
ASCII are left out: every candidate decodes them correctly and they would only
inflate both columns.  Every fourth piece has CR LF line ends.  Three pieces of
every language also go in as UTF-8, UTF-8 with signature, UTF-16LE and
UTF-16BE with byte order mark, UTF-16LE without one and UTF-32LE with one, as
controls.

A detection is correct when decoding the file with the detected set gives
exactly the original text (a byte order mark or signature is not text), so
when two sets agree on every byte of a file either answer is right.

Ordana's detection is computed twice when --ordana is given: by a faithful
Python model (the byte-order and UTF tests, then every statistics file scored
with the program's arithmetic, then the fallback), and by running the program
itself (`ordana in out /o utf-8 /nobom /loglevel=2`, the output compared with
the original text).  The table shows the program; any file where the two
disagree is listed, and the script exits with 1, because it would mean that
one of them is wrong.

Needs uchardet (apt-get install uchardet) and the packages that
tools/train_stats.py fetches (into the same work directory).
"""

import argparse
import codecs
import collections
import glob
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tools"))
import train_stats  # noqa: E402  (the sources and the split live there)

MIN_CHARS = 1024
MAX_CHARS = 4096
PIECES_PER_DOCUMENT = 2
PIECES_PER_LANGUAGE = 60
CONTROL_PIECES_PER_LANGUAGE = 3

# Ordana's CharsetId -> Python codec (only the ones the detection can produce
# from the shipped files or the fallback; the tables agree with Python's).
ORDANA_CODECS = {
    0: "latin-1", 1: "iso8859-2", 4: "iso8859-5", 5: "iso8859-6", 6: "iso8859-7",
    7: "iso8859-8", 8: "iso8859-9", 11: "iso8859-16", 12: "iso8859-13", 14: "iso8859-15",
    15: "cp874", 16: "cp1250", 17: "cp1251", 18: "cp1252", 19: "cp1253", 20: "cp1254",
    21: "cp1255", 22: "cp1256", 23: "cp1257", 24: "cp1258", 25: "cp437", 28: "cp850",
    29: "cp852", 30: "cp855", 38: "cp866", 50: "koi8-r", 51: "koi8-u",
}

# Family, languages, the sets that serve them (a piece goes into each set that
# encodes it without loss).
FAMILIES = [
    ("Western European", train_stats.WESTERN, ["cp1252", "latin-1", "iso8859-15", "cp850"]),
    ("Central European", ["cs", "pl", "hu", "sk", "sl", "hr"], ["cp1250", "iso8859-2", "cp852"]),
    ("Central European", ["ro"], ["iso8859-16", "cp1250", "iso8859-2"]),
    ("Cyrillic", ["ru", "bg"], ["cp1251", "koi8-r", "cp866", "iso8859-5"]),
    ("Cyrillic", ["uk"], ["cp1251", "koi8-u", "iso8859-5"]),
    ("Cyrillic", ["mk", "sr"], ["cp1251", "iso8859-5"]),
    ("Greek", ["el"], ["cp1253", "iso8859-7"]),
    ("Turkish", ["tr"], ["cp1254", "iso8859-9"]),
    ("Baltic", ["lt", "lv", "et"], ["cp1257", "iso8859-13"]),
    ("Hebrew", ["he"], ["cp1255", "iso8859-8"]),
    ("Arabic", ["ar"], ["cp1256", "iso8859-6"]),
    ("Thai", ["th"], ["cp874", "tis-620"]),
]
CONTROL_FAMILY = "Unicode (controls)"
CONTROLS = ["utf-8", "utf-8-sig", "utf-16", "utf-16-be-bom", "utf-16-le", "utf-32"]

DISPLAY = {
    "cp1252": "Windows-1252", "latin-1": "ISO-8859-1", "iso8859-15": "ISO-8859-15",
    "cp850": "DOS-850", "cp1250": "Windows-1250", "iso8859-2": "ISO-8859-2",
    "cp852": "DOS-852", "iso8859-16": "ISO-8859-16",
    "cp1251": "Windows-1251", "koi8-r": "KOI8-R", "koi8-u": "KOI8-U", "cp866": "DOS-866",
    "iso8859-5": "ISO-8859-5", "cp1253": "Windows-1253", "iso8859-7": "ISO-8859-7",
    "cp1254": "Windows-1254", "iso8859-9": "ISO-8859-9", "cp1257": "Windows-1257",
    "iso8859-13": "ISO-8859-13", "cp1255": "Windows-1255", "iso8859-8": "ISO-8859-8",
    "cp1256": "Windows-1256", "iso8859-6": "ISO-8859-6", "cp874": "Windows-874",
    "tis-620": "TIS-620", "utf-8": "UTF-8", "utf-8-sig": "UTF-8 with signature",
    "utf-16": "UTF-16LE with BOM", "utf-16-be-bom": "UTF-16BE with BOM",
    "utf-16-le": "UTF-16LE without BOM", "utf-32": "UTF-32LE with BOM",
}


def encode(text, charset):
    if charset == "utf-16-be-bom":
        return b"\xFE\xFF" + text.encode("utf-16-be")
    return text.encode(charset)


def log(message):
    print(message, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------
# The test set.

def _hash(text):
    return int.from_bytes(hashlib.sha256(text.encode("utf-8")).digest()[:4], "little")


def pieces(text, key, min_chars=MIN_CHARS, max_chars=MAX_CHARS):
    """Up to PIECES_PER_DOCUMENT pieces of MIN_CHARS..MAX_CHARS characters, cut at
    line ends; the lengths are drawn from a hash of the document key."""
    lines = text.splitlines(keepends=True)
    out, start = [], 0
    for index in range(PIECES_PER_DOCUMENT):
        target = min_chars + _hash("%s#%d" % (key, index)) % (max_chars - min_chars)
        piece, end = "", start
        while end < len(lines) and len(piece) + len(lines[end]) <= max_chars:
            piece += lines[end]
            end += 1
            if len(piece) >= target:
                break
        if len(piece) >= min_chars:
            out.append(piece)
        if end == start:
            end += 1  # a single line longer than max_chars: skip it
        start = end
        while start < len(lines) and not lines[start].strip():
            start += 1
    return out


def build_cases(work, min_chars=MIN_CHARS, max_chars=MAX_CHARS):
    """[(family, language, set, name, text, data)] in a fixed order."""
    cases = []
    skipped_ascii = 0
    for family, langs, sets in FAMILIES:
        for lang in langs:
            docs = [(k, t) for k, t in train_stats.documents(lang, work)
                    if train_stats.is_held_out(k)]
            lang_pieces = []
            for key, text in docs:
                for number, piece in enumerate(pieces(text, key, min_chars, max_chars)):
                    if all(ord(c) < 0x80 for c in piece):
                        skipped_ascii += 1
                        continue
                    name = "%s-%s-%d" % (lang, re.sub(r"[^\w.-]+", "_", key), number)
                    lang_pieces.append((name, train_stats.with_crlf(name, piece)))
            lang_pieces.sort(key=lambda item: _hash("pick:" + item[0]))
            lang_pieces = lang_pieces[:PIECES_PER_LANGUAGE]
            for name, piece in lang_pieces:
                for charset in sets:
                    try:
                        data = encode(piece, charset)
                    except UnicodeEncodeError:
                        continue
                    cases.append((family, lang, charset, name, piece, data))
            for name, piece in lang_pieces[:CONTROL_PIECES_PER_LANGUAGE]:
                for charset in CONTROLS:
                    cases.append((CONTROL_FAMILY, lang, charset, name, piece,
                                  encode(piece, charset)))
    log("%d test files; %d pure-ASCII pieces left out" % (len(cases), skipped_ascii))
    return cases


# ---------------------------------------------------------------------------
# A faithful model of the detection.

def load_stats(path):
    """(label, charset id, [w1, w2, w3]) as the detection's loader reads the file."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"STAT":
        return None
    header = (data[:16] + bytes(16))[:16]
    label = header[4:8].split(b"\0")[0].decode("latin-1")
    charset = struct.unpack_from("<I", header, 8)[0]
    tables = [{}, {}, {}]
    pos, t = 16, 0
    while pos + 12 <= len(data) and data[pos:pos + 4] == b"STBL" and t < 3:
        count = struct.unpack_from("<I", data, pos + 8)[0]
        pos += 12
        for _ in range(count):
            if pos + 12 > len(data):
                break
            key, weight = struct.unpack_from("<Id", data, pos)
            tables[t][key] = weight
            pos += 12
        t += 1
    return label, charset, tables


# How far another set must lead the better of the ISO-8859-15 and Windows-1252
# files to be taken instead of it (the program's kFallbackMargin).
FALLBACK_MARGIN = 8.0


def model_detect(b, stats, statistics_only=False):
    """Returns the charset id, or the name of a Unicode form, following the
    order of tests: UTF-16, UTF-8, UTF-32, statistics, fallback.  With
    statistics_only, the statistics decide alone (to measure the files apart
    from the tests that run before them)."""
    n = len(b)
    if statistics_only:
        pass
    elif n >= 4:
        if b[0] == 0xFE and b[1] == 0xFF:
            return "utf-16-be-bom"
        if b[0] == 0xFF and b[1] == 0xFE:
            if n >= 8 and b[2] == 0 and b[3] == 0:
                return "utf-32-le-bom"
            return "utf-16-le-bom"
        if b[0] != 0 and b[1] == 0 and b[2] != 0 and b[3] == 0:
            return "utf-16-le"
        if b[0] == 0 and b[1] != 0 and b[2] == 0 and b[3] != 0:
            return "utf-16-be"
    if n >= 3 and not statistics_only:
        if b[:3] == b"\xEF\xBB\xBF":
            return "utf-8-bom"
        valid = invalid = 0
        for p in range(n):
            lead = b[p]
            need = (1 if 0xC0 <= lead <= 0xDF else 2 if 0xE0 <= lead <= 0xEF else
                    3 if 0xF0 <= lead <= 0xF7 else 4 if 0xF8 <= lead <= 0xFB else
                    5 if 0xFC <= lead <= 0xFD else 0)
            if need:
                if p + need < n and all(0x80 <= x <= 0xBF for x in b[p + 1:p + 1 + need]):
                    valid += 1
                else:
                    invalid += 1
        # Counted over the whole sample, as the program does.
        if valid > invalid and valid >= 2:
            return "utf-8"
    if n >= 8 and not statistics_only:
        if b[:4] == b"\x00\x00\xFE\xFF":
            return "utf-32-be-bom"
        w = struct.unpack_from("<4H", b)
        if w[0] != 0 and w[1] == 0 and w[2] != 0 and w[3] == 0:
            return "utf-32-le"
        if w[0] == 0 and w[1] != 0 and w[2] == 0 and w[3] != 0:
            return "utf-32-be"
    # No byte 0x80-0xFF among the bytes the scoring reads: no evidence.
    if n >= 4 and stats and any(x >= 0x80 for x in b[:max(n - 2, 0)]) and n >= 5:
        c1, c2, c3 = collections.Counter(), collections.Counter(), collections.Counter()
        for j in range(n - 4):
            c1[b[j]] += 1
            c2[b[j] | b[j + 1] << 8] += 1
            c3[b[j] | b[j + 1] << 8 | b[j + 2] << 16] += 1
        scored = []
        for label, charset, (w1, w2, w3) in stats:
            s1 = sum(w1[k] * c for k, c in c1.items() if k in w1)
            s2 = sum(w2[k] * c for k, c in c2.items() if k in w2)
            s3 = sum(w3[k] * c for k, c in c3.items() if k in w3)
            scored.append((s2 * 50.0 + s1 * 1.0 + s3 * 500.0, charset))
        order = sorted(range(len(scored)), key=lambda k: -scored[k][0])  # stable
        if len(scored) > 1 and scored[order[0]][0] == scored[order[-1]][0]:
            return 14  # every file scores the same
        chosen = order[0]
        for k in order:
            if scored[k][1] in (14, 18):  # the better of ISO-8859-15 and Windows-1252
                if k != chosen and scored[chosen][0] - scored[k][0] < FALLBACK_MARGIN:
                    chosen = k
                break
        return scored[chosen][1]
    return 14  # ISO-8859-15


# The Python codec that reads each Unicode form the detection can report.
UNICODE_DECODERS = {
    "utf-16-be-bom": "utf-16", "utf-16-le-bom": "utf-16", "utf-32-le-bom": "utf-32",
    "utf-32-be-bom": "utf-32", "utf-16-le": "utf-16-le", "utf-16-be": "utf-16-be",
    "utf-8-bom": "utf-8-sig", "utf-8": "utf-8", "utf-32-le": "utf-32-le",
    "utf-32-be": "utf-32-be",
}


def decodes_to(data, codec, text):
    try:
        decoded = data.decode(codec)
    except (UnicodeDecodeError, LookupError):
        return False
    return decoded.lstrip("\ufeff") == text if codec.startswith("utf") else decoded == text


def model_correct(result, data, text):
    if isinstance(result, str):
        return decodes_to(data, UNICODE_DECODERS[result], text)
    return decodes_to(data, ORDANA_CODECS.get(result, "unknown"), text)


def model_name(result):
    if isinstance(result, str):
        return result
    return DISPLAY.get(ORDANA_CODECS.get(result, ""), "id %d" % result)


# ---------------------------------------------------------------------------
# The real program and uchardet.

def run_ordana(ordana, path, scratch):
    out = os.path.join(scratch, "out.txt")
    if os.path.exists(out):
        os.remove(out)
    proc = subprocess.run([ordana, path, out, "/o", "utf-8", "/nobom", "/loglevel=2"],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    message = proc.stdout.decode("utf-8", "replace")
    match = re.search(r"Detected (?:SCS|character set)[^\r\n]*", message)
    try:
        with open(out, "rb") as f:
            output = f.read()
    except OSError:
        output = None
    return (match.group(0) if match else "(no detection message)"), output


def uchardet_names(paths):
    names = {}
    for start in range(0, len(paths), 200):
        batch = paths[start:start + 200]
        proc = subprocess.run(["uchardet"] + batch, stdout=subprocess.PIPE, check=True)
        for line in proc.stdout.decode("utf-8", "replace").splitlines():
            path, _, name = line.rpartition(": ")
            names[path] = name.strip()
    return names


UCHARDET_CODECS = {"MAC-CENTRALEUROPE": "mac-latin2", "MAC-CYRILLIC": "mac-cyrillic",
                   "UTF-16": "utf-16", "UTF-32": "utf-32", "UTF-8": "utf-8-sig"}


def uchardet_codec(name):
    if name in UCHARDET_CODECS:
        return UCHARDET_CODECS[name]
    try:
        return codecs.lookup(name.lower()).name
    except LookupError:
        return None


def canonical(codec):
    """One name per set, for telling whether two names mean the same set."""
    if codec is None:
        return None
    codec = {"utf-16-be-bom": "utf-16", "utf-8-sig": "utf-8"}.get(codec, codec)
    try:
        return codecs.lookup(codec).name.replace("utf-8-sig", "utf-8")
    except LookupError:
        return None


def uchardet_version():
    proc = subprocess.run(["uchardet", "--version"], stdout=subprocess.PIPE)
    match = re.search(r"Version\s+(\S+)", proc.stdout.decode("utf-8", "replace"))
    return match.group(1) if match else "?"


# ---------------------------------------------------------------------------
# Report.

def percent(good, total):
    return "%.1f %%" % (100.0 * good / total) if total else "-"


def report(rows, uchardet_sets, program_column):
    """Markdown tables: per family, per set, and the misses."""
    out = []
    ours = "Ordana (program)" if program_column else "Ordana (model)"
    families = []
    for row in rows:
        if row["family"] not in families:
            families.append(row["family"])
    total = collections.Counter()
    out.append("| Family | Files | %s | uchardet %s | uchardet supports the sets "
               "| Ordana, statistics alone |" % (ours, uchardet_version()))
    out.append("|---|---:|---:|---:|---|---:|")
    for family in families + ["Overall"]:
        subset = [r for r in rows if family == "Overall" or r["family"] == family]
        sets = sorted({r["set"] for r in subset}, key=lambda s: list(DISPLAY).index(s))
        supported = [DISPLAY[s] for s in sets if s in uchardet_sets]
        unsupported = [DISPLAY[s] for s in sets if s not in uchardet_sets]
        if family == "Overall":
            note = ""
        elif not unsupported:
            note = "all"
        elif not supported:
            note = "none"
        else:
            note = "not " + ", ".join(unsupported)
        label = "**Overall**" if family == "Overall" else family
        single = [r for r in subset if "alone" in r]
        out.append("| %s | %d | %s | %s | %s | %s |" % (
            label, len(subset), percent(sum(r["ours"] for r in subset), len(subset)),
            percent(sum(r["uchardet"] for r in subset), len(subset)), note,
            percent(sum(r["alone"] for r in single), len(single))))
        if family != "Overall":
            total["n"] += len(subset)
    out.append("")
    out.append("| Set | Files | %s | uchardet | Ordana, statistics alone |" % ours)
    out.append("|---|---:|---:|---:|---:|")
    for charset in DISPLAY:
        subset = [r for r in rows if r["set"] == charset]
        if subset:
            single = [r for r in subset if "alone" in r]
            out.append("| %s | %d | %s | %s | %s |" % (
                DISPLAY[charset], len(subset),
                percent(sum(r["ours"] for r in subset), len(subset)),
                percent(sum(r["uchardet"] for r in subset), len(subset)),
                percent(sum(r["alone"] for r in single), len(single))))
    return "\n".join(out)


def misses(rows, key):
    def short(name):
        name = re.sub(r" \(Analyzed \d+ Bytes\)", "", name)
        return re.sub(r"^Detected (SCS:? |SCS with BOM: )?", "", name)
    counts = collections.Counter((r["set"], short(r[key + "_name"])) for r in rows if not r[key])
    return ["%-22s detected as %-26s %d" % (DISPLAY[s], n, c)
            for (s, n), c in sorted(counts.items(), key=lambda item: -item[1])]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--work", default=train_stats.DEFAULT_WORK,
                        help="train_stats.py's work directory (default %(default)s)")
    parser.add_argument("--stats", default=os.path.join(REPO, "data", "stats"),
                        help="directory of the .dat files for the model (default data/stats)")
    parser.add_argument("--ordana", help="also run this ordana program (its own .dat files "
                                         "are the ones next to it)")
    parser.add_argument("--keep", help="write the test files into this directory and keep them")
    parser.add_argument("--write", help="replace the results section of this Markdown file")
    parser.add_argument("--misses", action="store_true", help="list what the misses were")
    parser.add_argument("--min-chars", type=int, default=MIN_CHARS,
                        help="shortest piece in characters (default %(default)s)")
    parser.add_argument("--max-chars", type=int, default=MAX_CHARS,
                        help="longest piece in characters (default %(default)s)")
    args = parser.parse_args()

    stats_files = sorted(glob.glob(os.path.join(args.stats, "*.dat")))
    if args.ordana:
        beside = os.path.dirname(os.path.abspath(args.ordana))
        for path in stats_files:
            copy = os.path.join(beside, os.path.basename(path))
            with open(path, "rb") as a:
                same = os.path.exists(copy) and open(copy, "rb").read() == a.read()
            if not same:
                log("warning: %s is missing or differs from %s; the program and the model "
                    "will not agree" % (copy, path))
    stats = [s for s in (load_stats(p) for p in stats_files) if s is not None]
    log("%d statistics files from %s" % (len(stats), args.stats))
    if not 0 < args.min_chars < args.max_chars:
        sys.exit("detection_eval: need 0 < --min-chars < --max-chars")
    cases = build_cases(os.path.abspath(args.work), args.min_chars, args.max_chars)

    scratch_holder = None
    if args.keep:
        directory = args.keep
        os.makedirs(directory, exist_ok=True)
    else:
        scratch_holder = tempfile.TemporaryDirectory(prefix="ordana-detect-")
        directory = scratch_holder.name
    paths = []
    for family, lang, charset, name, text, data in cases:
        path = os.path.join(directory, "%s.%s.txt" % (name, charset))
        with open(path, "wb") as f:
            f.write(data)
        paths.append(path)
    uchardet = uchardet_names(paths)

    rows = []
    disagreements = []
    for index, ((family, lang, charset, name, text, data), path) in enumerate(
            zip(cases, paths)):
        result = model_detect(data[:2 * 1024 * 1024], stats)
        row = {"family": family, "lang": lang, "set": charset, "path": path,
               "ours": model_correct(result, data, text), "ours_name": model_name(result)}
        if family != CONTROL_FAMILY:
            alone = model_detect(data[:2 * 1024 * 1024], stats, statistics_only=True)
            row["alone"] = model_correct(alone, data, text)
        if args.ordana:
            message, output = run_ordana(args.ordana, path, directory)
            program_ok = output is not None and output.decode("utf-8", "replace") == text
            if program_ok != row["ours"]:
                disagreements.append("%s: model %s (%s), program %s (%s)" % (
                    os.path.basename(path), row["ours_name"], row["ours"], message, program_ok))
            row["ours"], row["ours_name"] = program_ok, message
        name_u = uchardet.get(path, "")
        codec = uchardet_codec(name_u)
        row["uchardet"] = codec is not None and decodes_to(data, codec, text)
        row["uchardet_name"] = name_u or "(nothing)"
        rows.append(row)
        if (index + 1) % 500 == 0:
            log("%d / %d" % (index + 1, len(cases)))

    # A set counts as supported by uchardet when uchardet named that very set
    # for at least one of its files.
    uchardet_sets = {r["set"] for r in rows
                     if canonical(uchardet_codec(r["uchardet_name"])) == canonical(r["set"])}
    table = report(rows, uchardet_sets, bool(args.ordana))
    miss_text = ("Ordana's misses (set of the file, detected as, files):\n\n```\n%s\n```\n\n"
                 "uchardet's misses:\n\n```\n%s\n```" % (
                     "\n".join(misses(rows, "ours")) or "(none)",
                     "\n".join(misses(rows, "uchardet")) or "(none)"))
    print(table)
    if args.misses:
        print("\n" + miss_text)
    if disagreements:
        print("\nModel and program disagree on %d files:" % len(disagreements))
        print("\n".join(disagreements[:50]))
    if args.write:
        with open(args.write, encoding="utf-8") as f:
            document = f.read()
        begin, end = "<!-- results begin -->", "<!-- results end -->"
        if begin not in document or end not in document:
            sys.exit("detection_eval: %s has no results markers" % args.write)
        head, rest = document.split(begin, 1)
        _, tail = rest.split(end, 1)
        with open(args.write, "w", encoding="utf-8") as f:
            f.write(head + begin + "\n" + table + "\n\n" + miss_text + "\n" + end + tail)
    return 1 if disagreements else 0


if __name__ == "__main__":
    sys.exit(main())
