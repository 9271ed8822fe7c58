#!/usr/bin/env python3
"""Accuracy of Ordana's automatic character set detection on held-out text,
side by side with the detectors people use: uchardet, python3-chardet,
python3-charset-normalizer and ICU's ucsdet (bench/icu_detect.cpp).

    bench/install-peers.sh                                    # the four peers
    python3 bench/detection_eval.py --ordana build/ordana     # print the tables
    python3 bench/detection_eval.py --ordana build/ordana --write bench/DETECTION.md

The texts are the documents that tools/train_stats.py holds out from training
(split by document name, the same in every language, so not even a translation
of a held-out page was trained on).  Each held-out document is written out as
one kind of file, chosen by a hash of its name: prose as it is, subtitles
(numbered cues with time codes, at most two short lines each), CSV (quoted
fields separated by semicolons), source code (the text as comments and string
literals of a C file) or HTML (paragraphs in a page with a head).  From each
file come up to two slices of 64-512 characters and up to two of 1024-8192
characters, cut at line ends; slices of pure ASCII are left out (every
detector decodes them right).  Each slice goes into every character set that
serves its language and encodes it without loss; a few per language also go in
as UTF-8, UTF-16 and UTF-32, with and without byte order mark.

A detection is correct when decoding the file with the detected set gives
exactly the original text (a byte order mark is not text): when two sets agree
on every byte of a file, either answer is right.  A peer's answer is decoded
with Python's codec of that name.

Ordana runs once over all files (`ordana 'dir/*.txt' out /o utf-8 /nobom
/loglevel=2 /y /binary`, its statistics files the ones next to it); each peer
runs once over all of them too.
"""

import argparse
import codecs
import collections
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tools"))
import train_stats  # noqa: E402  (the sources and the split live there)

SIZES = [("64-512 B", 64, 512), ("1-8 KiB", 1024, 8192)]
SLICES_PER_DOCUMENT = 2
KINDS = ["prose", "subtitles", "CSV", "source code", "HTML"]

# Family, languages, the sets that serve them (a slice goes into each set that
# encodes it without loss).
FAMILIES = [
    ("Western European", train_stats.WESTERN, ["cp1252", "latin-1", "iso8859-15", "cp850"]),
    ("Mac Roman", train_stats.WESTERN, ["mac-roman"]),
    ("Central European", ["cs", "pl", "hu", "sk", "sl", "hr"],
     ["cp1250", "iso8859-2", "cp852", "mac-latin2"]),
    ("Central European", ["ro"], ["iso8859-16", "cp1250", "iso8859-2"]),
    ("Cyrillic", ["ru", "bg"], ["cp1251", "koi8-r", "cp866", "iso8859-5", "mac-cyrillic", "cp855"]),
    ("Cyrillic", ["uk"], ["cp1251", "koi8-u", "iso8859-5", "mac-cyrillic"]),
    ("Cyrillic", ["mk", "sr"], ["cp1251", "iso8859-5", "mac-cyrillic", "cp855"]),
    ("Greek", ["el"], ["cp1253", "iso8859-7"]),
    ("Turkish", ["tr"], ["cp1254", "iso8859-9"]),
    ("Baltic", ["lt", "lv", "et"], ["cp1257", "iso8859-13"]),
    ("Hebrew", ["he"], ["cp1255", "iso8859-8"]),
    ("Arabic", ["ar"], ["cp1256", "iso8859-6"]),
    ("Thai", ["th"], ["cp874", "tis-620"]),
]
UNICODE_FAMILY = "Unicode"
UNICODE_FORMS = ["utf-8", "utf-8-sig", "utf-16", "utf-16-be-bom", "utf-16-le", "utf-16-be",
                 "utf-32", "utf-32-le"]
UNICODE_SLICES_PER_LANGUAGE = 2

DISPLAY = {
    "cp1252": "Windows-1252", "latin-1": "ISO-8859-1", "iso8859-15": "ISO-8859-15",
    "cp850": "DOS-850", "mac-roman": "Mac Roman", "cp1250": "Windows-1250",
    "iso8859-2": "ISO-8859-2", "cp852": "DOS-852", "mac-latin2": "Mac Central European",
    "iso8859-16": "ISO-8859-16", "cp1251": "Windows-1251", "koi8-r": "KOI8-R",
    "koi8-u": "KOI8-U", "cp866": "DOS-866", "iso8859-5": "ISO-8859-5",
    "mac-cyrillic": "Mac Cyrillic", "cp855": "DOS-855", "cp1253": "Windows-1253",
    "iso8859-7": "ISO-8859-7", "cp1254": "Windows-1254", "iso8859-9": "ISO-8859-9",
    "cp1257": "Windows-1257", "iso8859-13": "ISO-8859-13", "cp1255": "Windows-1255",
    "iso8859-8": "ISO-8859-8", "cp1256": "Windows-1256", "iso8859-6": "ISO-8859-6",
    "cp874": "Windows-874", "tis-620": "TIS-620", "utf-8": "UTF-8",
    "utf-8-sig": "UTF-8 with signature", "utf-16": "UTF-16LE with BOM",
    "utf-16-be-bom": "UTF-16BE with BOM", "utf-16-le": "UTF-16LE without BOM",
    "utf-16-be": "UTF-16BE without BOM", "utf-32": "UTF-32LE with BOM",
    "utf-32-le": "UTF-32LE without BOM",
}

PEERS = ["uchardet", "chardet", "charset-normalizer", "ICU"]


def log(message):
    print(message, file=sys.stderr, flush=True)


def _hash(text):
    return int.from_bytes(hashlib.sha256(text.encode("utf-8")).digest()[:4], "little")


def encode(text, charset):
    if charset == "utf-16-be-bom":
        return b"\xFE\xFF" + text.encode("utf-16-be")
    return text.encode(charset)


# ---------------------------------------------------------------------------
# The test set.

def as_kind(text, key):
    """The document written out as one kind of file."""
    kind = KINDS[_hash("kind:" + key) % len(KINDS)]
    lines = [line.strip() for line in text.splitlines() if line.strip()]
    if kind == "subtitles":
        cues, words, number = [], [], 0
        for line in lines:
            words.extend(line.split())
        for start in range(0, len(words), 12):
            number += 1
            seconds = number * 3
            chunk = words[start:start + 12]
            cues.append("%d\n00:%02d:%02d,000 --> 00:%02d:%02d,500\n%s\n%s\n" % (
                number, seconds // 60 % 60, seconds % 60, seconds // 60 % 60, (seconds + 2) % 60,
                " ".join(chunk[:6]), " ".join(chunk[6:])))
        return kind, "\n".join(cues)
    if kind == "CSV":
        rows = ["id;text;length"]
        for number, line in enumerate(lines, 1):
            rows.append('%d;"%s";%d' % (number, line.replace('"', '""'), len(line)))
        return kind, "\n".join(rows) + "\n"
    if kind == "source code":
        out = ["#include <stdio.h>", "", "/*"]
        out += [" * " + line for line in lines[:len(lines) // 2]]
        out += [" */", "static const char *messages[] = {"]
        out += ['    "%s",' % line.replace("\\", "\\\\").replace('"', '\\"')
                for line in lines[len(lines) // 2:]]
        out += ["};", "", "int main(void) {", "    // " + (lines[0] if lines else ""),
                "    puts(messages[0]);", "    return 0;", "}"]
        return kind, "\n".join(out) + "\n"
    if kind == "HTML":
        out = ["<!DOCTYPE html>", "<html>", "<head>", "<title>%s</title>" % (
            lines[0] if lines else ""), "</head>", "<body>"]
        out += ["<p>%s</p>" % line.replace("&", "&amp;").replace("<", "&lt;") for line in lines]
        out += ["</body>", "</html>"]
        return kind, "\n".join(out) + "\n"
    return kind, text


def slices(text, key, low, high):
    """Up to SLICES_PER_DOCUMENT slices of low..high characters, cut at line
    ends, lengths drawn from a hash of the document key."""
    lines = text.splitlines(keepends=True)
    out, start = [], 0
    for index in range(SLICES_PER_DOCUMENT):
        target = low + _hash("%s#%d#%d" % (key, low, index)) % (high - low)
        piece, end = "", start
        while end < len(lines) and len(piece) + len(lines[end]) <= high:
            piece += lines[end]
            end += 1
            if len(piece) >= target:
                break
        if len(piece) >= low:
            out.append(piece)
        if end == start:
            end += 1
        start = end
    return out


def build_cases(work, per_language):
    """[(family, size, kind, set, name, text, data)] in a fixed order."""
    cases = []
    documents = {}
    for family, langs, sets in FAMILIES:
        for lang in langs:
            if lang not in documents:
                documents[lang] = [(k, t) for k, t in train_stats.documents(lang, work)
                                   if train_stats.is_held_out(k)]
            for size, low, high in SIZES:
                found = []
                for key, text in documents[lang]:
                    kind, document = as_kind(text, key)
                    for number, piece in enumerate(slices(document, key, low, high)):
                        if all(ord(c) < 0x80 for c in piece):
                            continue
                        name = "%s-%s-%d-%d" % (lang, re.sub(r"[^\w.-]+", "_", key)[-60:], low,
                                                number)
                        found.append((name, kind, train_stats.with_crlf(name, piece)))
                found.sort(key=lambda item: _hash("pick:" + item[0]))
                found = found[:per_language]
                for name, kind, piece in found:
                    for charset in sets:
                        try:
                            data = encode(piece, charset)
                        except UnicodeEncodeError:
                            continue
                        cases.append((family, size, kind, charset, name, piece, data))
                if family == FAMILIES[0][0] or lang not in train_stats.WESTERN:
                    for name, kind, piece in found[:UNICODE_SLICES_PER_LANGUAGE]:
                        for charset in UNICODE_FORMS:
                            cases.append((UNICODE_FAMILY, size, kind, charset, name, piece,
                                          encode(piece, charset)))
    log("%d test files" % len(cases))
    return cases


# ---------------------------------------------------------------------------
# Running the detectors.

def decodes_to(data, codec, text):
    if codec is None:
        return False
    try:
        decoded = data.decode(codec)
    except (UnicodeDecodeError, LookupError):
        return False
    return decoded.lstrip("\ufeff") == text


PEER_CODECS = {
    "mac-centraleurope": "mac-latin2", "maccentraleurope": "mac-latin2",
    "maccyrillic": "mac-cyrillic", "x-mac-cyrillic": "mac-cyrillic", "macroman": "mac-roman",
    "iso-8859-8-i": "iso8859-8", "iso-8859-6-i": "iso8859-6", "iso-8859-6-e": "iso8859-6",
    "iso-8859-8-e": "iso8859-8", "windows-874": "cp874", "ibm855": "cp855", "ibm866": "cp866",
    "ibm852": "cp852", "ibm850": "cp850", "utf-8": "utf-8-sig", "utf_8": "utf-8-sig",
}


def peer_codec(name):
    if not name or name in ("-", "None"):
        return None
    lowered = name.lower()
    if lowered in PEER_CODECS:
        return PEER_CODECS[lowered]
    try:
        return codecs.lookup(lowered).name
    except LookupError:
        return None


PYTHON_PEER = r"""
import sys
which = sys.argv[1]
if which == "chardet":
    import chardet
    detect = lambda data: chardet.detect(data)["encoding"]
else:
    import charset_normalizer
    def detect(data):
        best = charset_normalizer.from_bytes(data).best()
        return best.encoding if best else None
for line in sys.stdin:
    path = line.rstrip("\n")
    with open(path, "rb") as f:
        name = detect(f.read())
    print("%s\t%s" % (path, name), flush=True)
"""


def run_peers(paths, work):
    """{peer: {path: name}}; the four run side by side."""
    listing = "\n".join(paths) + "\n"
    icu = os.path.join(work, "icu_detect")
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "icu-i18n"], check=True,
                           stdout=subprocess.PIPE, text=True).stdout.split()
    subprocess.run(["g++", "-O2", os.path.join(REPO, "bench", "icu_detect.cpp"), "-o", icu] + flags,
                   check=True)
    helper = os.path.join(work, "python_peer.py")
    with open(helper, "w") as f:
        f.write(PYTHON_PEER)
    # Debian's python3, where the python3-chardet and python3-charset-normalizer
    # packages install.
    procs = {
        "chardet": subprocess.Popen(["/usr/bin/python3", helper, "chardet"], stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, text=True),
        "charset-normalizer": subprocess.Popen(["/usr/bin/python3", helper, "normalizer"],
                                               stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                               text=True),
        "ICU": subprocess.Popen([icu], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True),
    }
    outputs = {}
    uchardet = {}
    for start in range(0, len(paths), 200):
        proc = subprocess.run(["uchardet"] + paths[start:start + 200], stdout=subprocess.PIPE,
                              check=True)
        for line in proc.stdout.decode("utf-8", "replace").splitlines():
            path, _, name = line.rpartition(": ")
            uchardet[path] = name.strip()
    for name, proc in procs.items():
        out, _ = proc.communicate(listing)
        outputs[name] = {}
        for line in out.splitlines():
            fields = line.split("\t")
            outputs[name][fields[0]] = fields[1] if len(fields) > 1 else None
    outputs["uchardet"] = uchardet
    return outputs


def run_ordana(ordana, directory, out):
    """{path: (detection message, output bytes or None)} from one run over all files."""
    os.makedirs(out, exist_ok=True)
    proc = subprocess.run([ordana, os.path.join(directory, "*.txt"), out, "/o", "utf-8", "/nobom",
                           "/loglevel=2", "/y", "/binary"], stdout=subprocess.PIPE,
                          stdin=subprocess.DEVNULL)
    found, current = {}, None
    for line in proc.stdout.decode("utf-8", "replace").splitlines():
        # A line may carry the end of the previous input's last message.
        match = re.search(r"Input: (.*), Output: ", line)
        if match:
            current = match.group(1)
            continue
        if current and line.startswith("Detected") and current not in found:
            found[current] = line.strip()
    result = {}
    for path, message in found.items():
        target = os.path.join(out, os.path.basename(path))
        try:
            with open(target, "rb") as f:
                result[path] = (message, f.read())
        except OSError:
            result[path] = (message, None)
    return result


def versions():
    def first(argv):
        try:
            return subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  text=True).stdout.strip().splitlines()[0]
        except (OSError, IndexError):
            return "?"
    uchardet = re.search(r"Version\s+(\S+)", subprocess.run(
        ["uchardet", "--version"], stdout=subprocess.PIPE, text=True).stdout or "")
    return {
        "uchardet": uchardet.group(1) if uchardet else "?",
        "chardet": first(["/usr/bin/python3", "-c", "import chardet; print(chardet.__version__)"]),
        "charset-normalizer": first(["/usr/bin/python3", "-c",
                                     "import charset_normalizer as c; print(c.__version__)"]),
        "ICU": first(["pkg-config", "--modversion", "icu-i18n"]),
    }


# ---------------------------------------------------------------------------
# Report.

def percent(good, total):
    return "%.1f %%" % (100.0 * good / total) if total else "-"


def rate(rows, key):
    return sum(r[key] for r in rows) / len(rows) if rows else 0.0


def family_order(rows):
    order = []
    for r in rows:
        if r["family"] not in order:
            order.append(r["family"])
    return order


def tables(rows, peer_versions):
    out = []
    families = family_order(rows)
    header = "| Family | Size | Files | Ordana | %s | Best peer |" % " | ".join(
        "%s %s" % (p, peer_versions[p]) for p in PEERS)
    for size, _, _ in SIZES:
        out.append("### Texts of %s\n" % size)
        out.append(header)
        out.append("|---|---|---:|---:|" + "---:|" * len(PEERS) + "---|")
        for family in families + ["Overall"]:
            subset = [r for r in rows if r["size"] == size and
                      (family == "Overall" or r["family"] == family)]
            if not subset:
                continue
            peer_rates = {p: rate(subset, p) for p in PEERS}
            best = max(PEERS, key=lambda p: peer_rates[p])
            mark = "**" if rate(subset, "ordana") >= peer_rates[best] else ""
            out.append("| %s | %s | %d | %s%s%s | %s | %s %s |" % (
                "**Overall**" if family == "Overall" else family, size, len(subset), mark,
                percent(sum(r["ordana"] for r in subset), len(subset)), mark,
                " | ".join(percent(sum(r[p] for r in subset), len(subset)) for p in PEERS),
                best, percent(peer_rates[best] * len(subset), len(subset))))
        out.append("")
    out.append("### By set (all sizes)\n")
    out.append("| Set | Files | Ordana | " + " | ".join(PEERS) + " |")
    out.append("|---|---:|---:|" + "---:|" * len(PEERS))
    for charset in DISPLAY:
        subset = [r for r in rows if r["set"] == charset]
        if subset:
            out.append("| %s | %d | %s | %s |" % (
                DISPLAY[charset], len(subset), percent(sum(r["ordana"] for r in subset),
                                                       len(subset)),
                " | ".join(percent(sum(r[p] for r in subset), len(subset)) for p in PEERS)))
    out.append("")
    out.append("### By kind of document (all sizes, single-byte sets and Unicode)\n")
    out.append("| Kind | Files | Ordana | " + " | ".join(PEERS) + " |")
    out.append("|---|---:|---:|" + "---:|" * len(PEERS))
    for kind in KINDS:
        subset = [r for r in rows if r["kind"] == kind]
        if subset:
            out.append("| %s | %d | %s | %s |" % (
                kind, len(subset), percent(sum(r["ordana"] for r in subset), len(subset)),
                " | ".join(percent(sum(r[p] for r in subset), len(subset)) for p in PEERS)))
    return "\n".join(out)


def targets(rows):
    """The targets: (text, met) pairs."""
    out = []
    long_rows = [r for r in rows if r["size"] == SIZES[1][0]]
    short_rows = [r for r in rows if r["size"] == SIZES[0][0]]
    overall = rate(long_rows, "ordana")
    out.append(("Texts of 1 KiB and more, overall at least 95 %%: %.1f %%" % (100 * overall),
                overall >= 0.95))
    for family in family_order(rows):
        subset = [r for r in long_rows if r["family"] == family]
        if not subset:
            continue
        best = max(PEERS, key=lambda p: rate(subset, p))
        ours, theirs = rate(subset, "ordana"), rate(subset, best)
        out.append(("Texts of 1 KiB and more, %s at least the best peer (%s %.1f %%): %.1f %%" % (
            family, best, 100 * theirs, 100 * ours), ours >= theirs))
    best = max(PEERS, key=lambda p: rate(short_rows, p))
    ours, theirs = rate(short_rows, "ordana"), rate(short_rows, best)
    out.append(("Texts of 64-512 bytes, overall at least the best peer (%s %.1f %%): %.1f %%" % (
        best, 100 * theirs, 100 * ours), ours >= theirs))
    return out


def misses(rows):
    def short(name):
        name = re.sub(r" \(Analyzed \d+ Bytes\)", "", name)
        return re.sub(r"^Detected (SCS:? |SCS with BOM: |character set \(fallback\) )?", "", name)
    counts = collections.Counter((r["size"], r["set"], short(r["ordana_name"]))
                                 for r in rows if not r["ordana"])
    return ["%-9s %-22s detected as %-26s %d" % (size, DISPLAY[s], n, c)
            for (size, s, n), c in sorted(counts.items(), key=lambda item: -item[1])]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--ordana", required=True,
                        help="the ordana program (its .dat files are the ones next to it)")
    parser.add_argument("--work", default=train_stats.DEFAULT_WORK,
                        help="train_stats.py's work directory (default %(default)s)")
    parser.add_argument("--per-language", type=int, default=12,
                        help="slices per language and size (default %(default)s)")
    parser.add_argument("--keep", help="write the test files into this directory and keep them")
    parser.add_argument("--write", help="replace the results section of this Markdown file")
    parser.add_argument("--misses", action="store_true", help="list what Ordana's misses were")
    args = parser.parse_args()

    cases = build_cases(os.path.abspath(args.work), args.per_language)
    holder = None
    if args.keep:
        directory = os.path.abspath(args.keep)
        shutil.rmtree(directory, ignore_errors=True)
        os.makedirs(directory)
    else:
        holder = tempfile.TemporaryDirectory(prefix="ordana-detect-")
        directory = holder.name
    files = os.path.join(directory, "files")
    os.makedirs(files)
    paths = []
    for index, (family, size, kind, charset, name, text, data) in enumerate(cases):
        path = os.path.join(files, "%05d.txt" % index)
        with open(path, "wb") as f:
            f.write(data)
        paths.append(path)
    log("running Ordana")
    ordana = run_ordana(os.path.abspath(args.ordana), files, os.path.join(directory, "out"))
    log("running the peers")
    peers = run_peers(paths, directory)
    rows = []
    for (family, size, kind, charset, name, text, data), path in zip(cases, paths):
        message, output = ordana.get(path, ("(no detection message)", None))
        row = {"family": family, "size": size, "kind": kind, "set": charset, "path": path,
               "ordana": output is not None and output.decode("utf-8", "replace") == text,
               "ordana_name": message}
        for peer in PEERS:
            row[peer] = decodes_to(data, peer_codec(peers[peer].get(path)), text)
        rows.append(row)

    peer_versions = versions()
    table = tables(rows, peer_versions)
    goals = targets(rows)
    goal_text = "\n".join("- %s: **%s**" % (text, "met" if met else "not met")
                          for text, met in goals)
    miss_text = ("Ordana's misses (size, set of the file, detected as, files):\n\n```\n%s\n```"
                 % ("\n".join(misses(rows)) or "(none)"))
    print(table + "\n\n" + goal_text)
    if args.misses:
        print("\n" + miss_text)
    if args.write:
        with open(args.write, encoding="utf-8") as f:
            document = f.read()
        begin, end = "<!-- results begin -->", "<!-- results end -->"
        if begin not in document or end not in document:
            sys.exit("detection_eval: %s has no results markers" % args.write)
        head, rest = document.split(begin, 1)
        _, tail = rest.split(end, 1)
        with open(args.write, "w", encoding="utf-8") as f:
            f.write(head + begin + "\n" + table + "\n\n#### Targets\n\n" + goal_text + "\n\n" +
                    miss_text + "\n" + end + tail)
    return 0


if __name__ == "__main__":
    sys.exit(main())
