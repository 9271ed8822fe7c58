#!/usr/bin/env python3
"""Rebuilds the statistics files in data/stats/ that teach Ordana's automatic
detection the single-byte character sets, from running text in Debian's
packages.

    python3 tools/train_stats.py                  # every file, into data/stats/
    python3 tools/train_stats.py --only koi8-r    # one file
    python3 tools/train_stats.py --list           # what would be built from what
    python3 tools/train_stats.py --check          # exit 1 if data/stats differs from a rebuild

Sources: the translated manual pages (manpages-de, -fr, -es, ..., with the roff
markup stripped) and the translations of Firefox, Thunderbird and LibreOffice
(firefox-esr-l10n-*, thunderbird-l10n-*, libreoffice-l10n-*) for languages that
have no manual pages in Debian (Hebrew, Arabic, Thai, Lithuanian, Latvian,
Estonian, Slovak, Slovenian, Croatian, Bulgarian) or too few (Greek, Turkish,
Czech, Hungarian, Romanian, Macedonian, Serbian).
The packages are fetched with `apt-get download` into the work directory and
unpacked there with `dpkg-deb -x`; nothing is installed into the system (when
the package lists are missing or stale, `apt-get update` is run once, which
needs root).  The versions used for the shipped files are listed in PACKAGES;
when Debian has moved on, the current version is used and a warning says so.

Every text is a document (a manual page, one .ftl/.properties file of a
language pack, one .mo catalogue).  The split between training and held-out
text is by document name, the same in every language and every package: a
page held out in German is held out in French too, so that the evaluation in
bench/detection_eval.py never sees a text that the files were trained on, not
even in translation.  Each language contributes at most CHARACTERS_PER_LANGUAGE
characters, so that a set serving many languages is not dominated by the one
with the most manual pages; every fourth document is given CR LF line ends, so
that both conventions are known.

The n-gram counting, smoothing, pruning and the weights are the business of
ordana-stats (tools/ordana-stats/), which this script runs once per file
with UTF-8 corpora it writes into the work directory.  It builds the tool with
CMake when --tool does not exist.  The same package versions and the same tool
give byte-identical files.
"""

import argparse
import gzip
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import unicodedata
import zipfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_WORK = os.path.join(os.environ.get("XDG_CACHE_HOME", os.path.expanduser("~/.cache")),
                            "ordana-stats")
CHARACTERS_PER_LANGUAGE = 2_500_000
HELD_OUT_PERCENT = 20

# Package -> version the shipped files were built from.
PACKAGES = {
    "manpages": "6.03-2",
    "manpages-cs": "4.18.1-1",
    "manpages-da": "4.18.1-1",
    "manpages-de": "4.18.1-1",
    "manpages-el": "4.18.1-1",
    "manpages-es": "4.18.1-1",
    "manpages-fi": "4.18.1-1",
    "manpages-fr": "4.18.1-1",
    "manpages-hu": "1:4.18.1-1",
    "manpages-it": "4.18.1-1",
    "manpages-mk": "4.18.1-1",
    "manpages-nb": "4.18.1-1",
    "manpages-nl": "4.18.1-1",
    "manpages-pl": "1:4.18.1-1",
    "manpages-pt-br": "4.18.1-1",
    "manpages-ro": "4.18.1-1",
    "manpages-ru": "4.18.1-1",
    "manpages-sr": "4.18.1-1",
    "manpages-sv": "4.18.1-1",
    "manpages-tr": "2.0.6-2",
    "manpages-uk": "4.18.1-1",
}
for _lang in ("ar", "bg", "cs", "el", "et", "he", "hr", "hu", "lt", "lv", "mk", "ro", "sk", "sl",
              "sr", "th", "tr"):
    PACKAGES["firefox-esr-l10n-" + _lang] = "153.8.0esr-1~deb12u1"
for _lang in ("ar", "el", "et", "he", "lt", "lv", "th"):
    PACKAGES["thunderbird-l10n-" + _lang] = "1:153.8.0esr-1~deb12u1"
    PACKAGES["libreoffice-l10n-" + _lang] = "4:7.4.7-1+deb12u14"


def _man(package, directory):
    return ("man", package, directory)


def _mozilla(lang):
    sources = [("xpi", "firefox-esr-l10n-" + lang, lang)]
    if "thunderbird-l10n-" + lang in PACKAGES:
        sources.append(("xpi", "thunderbird-l10n-" + lang, lang))
    if "libreoffice-l10n-" + lang in PACKAGES:
        sources.append(("mo", "libreoffice-l10n-" + lang, lang))
    return sources


# Language -> where its text comes from: (kind, package, locale directory).
LANGUAGES = {
    "en": [_man("manpages", "")],
    "de": [_man("manpages-de", "de")],
    "fr": [_man("manpages-fr", "fr")],
    "es": [_man("manpages-es", "es")],
    "it": [_man("manpages-it", "it")],
    "pt": [_man("manpages-pt-br", "pt_BR")],
    "nl": [_man("manpages-nl", "nl")],
    "sv": [_man("manpages-sv", "sv")],
    "da": [_man("manpages-da", "da")],
    "nb": [_man("manpages-nb", "nb")],
    "fi": [_man("manpages-fi", "fi")],
    "cs": [_man("manpages-cs", "cs")] + _mozilla("cs"),
    "pl": [_man("manpages-pl", "pl")],
    "hu": [_man("manpages-hu", "hu")] + _mozilla("hu"),
    "ro": [_man("manpages-ro", "ro")] + _mozilla("ro"),
    "sk": _mozilla("sk"),
    "sl": _mozilla("sl"),
    "hr": _mozilla("hr"),
    "ru": [_man("manpages-ru", "ru")],
    "uk": [_man("manpages-uk", "uk")],
    "bg": _mozilla("bg"),
    "mk": [_man("manpages-mk", "mk")] + _mozilla("mk"),
    "sr": [_man("manpages-sr", "sr")] + _mozilla("sr"),
    "el": [_man("manpages-el", "el")] + _mozilla("el"),
    "tr": [_man("manpages-tr", "tr")] + _mozilla("tr"),
    "lt": _mozilla("lt"),
    "lv": _mozilla("lv"),
    "et": _mozilla("et"),
    "he": _mozilla("he"),
    "ar": _mozilla("ar"),
    "th": _mozilla("th"),
}

WESTERN = ["en", "de", "fr", "es", "it", "pt", "nl", "sv", "da", "nb", "fi"]
CENTRAL = ["cs", "pl", "hu", "sk", "sl", "hr", "ro"]

# The shipped files: file name, CharsetId, label, languages whose text trains
# it, extra options for ordana-stats.  A language's text goes into every set
# that serves it; characters a set cannot encode simply end a run of text in
# ordana-stats.  An ISO 8859 set gets a small negative --high-byte-bias so that
# it loses ties against its Windows sibling, which decodes everything the ISO
# set decodes in the same way plus typographic punctuation: when the sample
# holds nothing that tells them apart, the Windows set is the safer answer.
CYRILLIC = ["ru", "uk", "bg", "mk", "sr"]
STATS = [
    ("windows-1252.dat", 18, "WEUR", WESTERN, []),
    ("iso-8859-15.dat", 14, "WEUR", WESTERN, ["--high-byte-bias", "-0.02"]),
    ("dos-850.dat", 28, "WEUR", WESTERN, []),
    ("windows-1250.dat", 16, "CEUR", CENTRAL, []),
    ("iso-8859-2.dat", 1, "CEUR", CENTRAL, ["--high-byte-bias", "-0.02"]),
    ("dos-852.dat", 29, "CEUR", CENTRAL, []),
    ("iso-8859-16.dat", 11, "ROMN", ["ro"], []),
    ("windows-1251.dat", 17, "CYRL", CYRILLIC, []),
    ("koi8-r.dat", 50, "CYRL", ["ru", "bg"], []),
    ("koi8-u.dat", 51, "CYRL", ["uk", "ru", "bg"], []),
    ("dos-866.dat", 38, "CYRL", ["ru", "bg"], []),
    ("iso-8859-5.dat", 4, "CYRL", CYRILLIC, ["--high-byte-bias", "-0.005"]),
    ("windows-1253.dat", 19, "GREK", ["el"], []),
    ("iso-8859-7.dat", 6, "GREK", ["el"], ["--high-byte-bias", "-0.005"]),
    ("windows-1254.dat", 20, "TURK", ["tr"], []),
    ("windows-1257.dat", 23, "BALT", ["lt", "lv", "et"], []),
    ("iso-8859-13.dat", 12, "BALT", ["lt", "lv", "et"], ["--high-byte-bias", "-0.02"]),
    ("windows-1255.dat", 21, "HEBR", ["he"], []),
    ("windows-1256.dat", 22, "ARAB", ["ar"], []),
    ("iso-8859-6.dat", 5, "ARAB", ["ar"], []),
    ("windows-874.dat", 15, "THAI", ["th"], []),
    # The Mac and the other DOS sets that text still arrives in and that other
    # detectors report.
    ("mac-roman.dat", 48, "WEUR", WESTERN, []),
    ("mac-centraleurope.dat", 47, "CEUR", CENTRAL, []),
    ("mac-cyrillic.dat", 41, "CYRL", CYRILLIC, []),
    ("dos-855.dat", 30, "CYRL", CYRILLIC, []),
]


def log(message):
    print(message, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------
# Fetching and unpacking the packages.

def _deb_name(package, version):
    return "%s_%s_all.deb" % (package, version.replace(":", "%3a"))


def _apt_download(package, version, directory):
    """Tries `apt-get download package=version`; returns the .deb path or None."""
    wanted = package + ("=" + version if version else "")
    result = subprocess.run(["apt-get", "download", "-q", wanted], cwd=directory,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if result.returncode != 0:
        return None
    if version:
        path = os.path.join(directory, _deb_name(package, version))
        return path if os.path.exists(path) else None
    found = [os.path.join(directory, name) for name in os.listdir(directory)
             if name.startswith(package + "_") and name.endswith(".deb")]
    return max(found, key=os.path.getmtime) if found else None


def fetch_package(package, work, updated):
    """Returns the directory with the unpacked package, fetching it when needed."""
    debs = os.path.join(work, "debs")
    unpacked = os.path.join(work, "unpacked", package)
    if os.path.isdir(unpacked):
        return unpacked
    os.makedirs(debs, exist_ok=True)
    wanted = PACKAGES[package]
    deb = os.path.join(debs, _deb_name(package, wanted))
    if not os.path.exists(deb):
        deb = _apt_download(package, wanted, debs)
        if deb is None and not updated[0]:
            log("apt-get update (package lists missing or stale)")
            subprocess.run(["apt-get", "update", "-qq"], check=False)
            updated[0] = True
            deb = _apt_download(package, wanted, debs)
        if deb is None:
            deb = _apt_download(package, None, debs)
            if deb is None:
                sys.exit("train_stats: cannot download %s with apt-get" % package)
            log("warning: %s %s is no longer available; using %s"
                % (package, wanted, os.path.basename(deb)))
    tmp = unpacked + ".tmp"
    shutil.rmtree(tmp, ignore_errors=True)
    os.makedirs(tmp)
    subprocess.run(["dpkg-deb", "-x", deb, tmp], check=True)
    os.rename(tmp, unpacked)
    return unpacked


# ---------------------------------------------------------------------------
# Manual pages: roff markup to plain text.

_SPECIAL = {
    "em": "\u2014", "en": "\u2013", "hy": "-", "mi": "-", "lq": "\u201c", "rq": "\u201d",
    "oq": "\u2018", "cq": "\u2019", "aq": "'", "dq": '"', "bu": "\u2022", "co": "\u00a9",
    "rg": "\u00ae", "tm": "\u2122", "de": "\u00b0", "pl": "+", "mu": "\u00d7", "di": "\u00f7",
    "+-": "\u00b1", "<=": "\u2264", ">=": "\u2265", "!=": "\u2260", "->": "\u2192",
    "<-": "\u2190", "Fo": "\u00ab", "Fc": "\u00bb", "fo": "\u2039", "fc": "\u203a",
    "Bq": "\u201e", "bq": "\u201a", "ss": "\u00df", "ti": "~", "ha": "^", "rs": "\\",
    "sl": "/", "ba": "|", "br": "|", "ul": "_", "ru": "_", "sc": "\u00a7", "ps": "\u00b6",
    "ct": "\u00a2", "Po": "\u00a3", "Eu": "\u20ac", "eu": "\u20ac", "Ye": "\u00a5",
    "ga": "`", "aa": "\u00b4", "ua": "\u2191", "da": "\u2193", "or": "|", "at": "@",
    "sh": "#", "dg": "\u2020", "lh": "\u261c", "rh": "\u261e", "12": "\u00bd",
    "14": "\u00bc", "34": "\u00be", "r!": "\u00a1", "r?": "\u00bf", "**": "*",
}
_STRINGS = {"lq": "\u201c", "rq": "\u201d", "R": "\u00ae", "Tm": "\u2122", "Aq": "'",
            "aq": "'", "dq": '"'}
_ACCENTS = {"'": "\u0301", "`": "\u0300", "^": "\u0302", ":": "\u0308", "~": "\u0303",
            ",": "\u0327", "o": "\u030a", "v": "\u030c"}
# Macros whose arguments are text (headings and font changes).
_TEXT_MACROS = {"SH", "SS", "B", "I", "BR", "BI", "IB", "IR", "RB", "RI", "SM", "SB", "IP",
                "TQ", "Nd", "Sh", "Ss", "Em", "Sy", "Dq", "Qq", "Sq", "Pq", "Ql", "Pa"}
_BLOCK_ENDS = {"de": "..", "de1": "..", "am": "..", "ig": "..", "TS": ".TE", "EQ": ".EN",
               "PS": ".PE"}


def _special(name):
    if name in _SPECIAL:
        return _SPECIAL[name]
    match = re.fullmatch(r"u([0-9A-Fa-f]{4,6})(?:_.*)?", name)
    if match:
        code = int(match.group(1), 16)
        return chr(code) if code <= 0x10FFFF and not 0xD800 <= code <= 0xDFFF else ""
    if len(name) == 2 and name[0] in _ACCENTS and name[1].isalpha():
        return unicodedata.normalize("NFC", name[1] + _ACCENTS[name[0]])
    return ""


_ESCAPE = re.compile(
    r"\\(?:"
    r"(?P<comment>\".*$)"
    r"|f(?:\[[^\]]*\]|\(..|.)"
    r"|\((?P<special2>..)"
    r"|\[(?P<special>[^\]]*)\]"
    r"|\*(?:\[(?P<string>[^\]]*)\]|\((?P<string2>..)|(?P<string1>.))"
    r"|s[-+]?(?:\d|\[[^\]]*\]|\(\d\d)"
    r"|[nmgFY](?:\[[^\]]*\]|\(..|.)"
    r"|[hvwoDlLNXbxCRSZAu](?:'[^']*')"
    r"|[kz].?"
    r"|(?P<literal>[-e\\.'`~ 0|^&,/%:c!{}acdprtu])"
    r"|(?P<other>.))"
)


def _unescape(text):
    def replace(match):
        if match.group("comment") is not None:
            return ""
        special = match.group("special2") or match.group("special")
        if special is not None:
            return _special(special)
        string = match.group("string") or match.group("string2") or match.group("string1")
        if string is not None:
            return _STRINGS.get(string, "")
        if match.group("other") is not None:
            return match.group("other")
        literal = match.group("literal")
        if literal is None:
            return ""
        return {"-": "-", "e": "\\", "\\": "\\", ".": ".", "'": "\u00b4", "`": "`",
                "~": " ", " ": " ", "0": " "}.get(literal, "")
    return _ESCAPE.sub(replace, text)


def _macro_arguments(rest):
    """Splits macro arguments the way roff does: blanks, with double quotes grouping."""
    return [a[1:-1] if a.startswith('"') else a for a in re.findall(r'"[^"]*"?|\S+', rest)]


def manpage_text(raw):
    """Plain text of a manual page: requests dropped, headings and font macros kept
    as text, escapes resolved, paragraphs separated by one empty line."""
    lines = []
    block_end = None
    for line in raw.splitlines():
        if block_end is not None:
            if line.strip().startswith(block_end):
                block_end = None
            continue
        if line.startswith((".", "'")):
            match = re.match(r"[.'][ \t]*([^ \t]*)[ \t]*(.*)", line)
            name, rest = match.group(1), match.group(2)
            if name.startswith('\\"') or name == "":
                continue
            if name in _BLOCK_ENDS:
                block_end = _BLOCK_ENDS[name]
                continue
            if name in ("so", "mso"):
                return ""  # a pointer to another page, not a page
            if name in _TEXT_MACROS:
                args = _macro_arguments(rest.split('\\"')[0])
                if name in ("IP", "TQ"):
                    args = args[:1]
                # The alternating-font macros join their arguments without blanks.
                joiner = "" if name in ("BR", "BI", "IB", "IR", "RB", "RI") else " "
                text = joiner.join(args).strip()
                if name in ("SH", "SS", "Sh", "Ss"):
                    lines.append("")
                if text:
                    lines.append(_unescape(text))
                continue
            if name in ("PP", "LP", "P", "sp", "Pp", "TP", "RS", "RE"):
                if lines and lines[-1] != "":
                    lines.append("")
            continue
        text = _unescape(line)
        if line.strip() and not text.strip():
            continue
        lines.append(text.rstrip())
    text = "\n".join(lines)
    text = re.sub(r"\n{3,}", "\n\n", text).strip("\n")
    return text + "\n" if text else ""


def manpage_documents(root, directory):
    """(key, text) for every page below usr/share/man/<directory>."""
    base = os.path.join(root, "usr", "share", "man", directory)
    for dirpath, dirnames, filenames in os.walk(base):
        dirnames.sort()
        section = os.path.basename(dirpath)
        if not section.startswith("man"):
            continue
        for name in sorted(filenames):
            path = os.path.join(dirpath, name)
            if os.path.islink(path):
                continue
            opener = gzip.open if name.endswith(".gz") else open
            with opener(path, "rb") as f:
                raw = f.read().decode("utf-8", "replace")
            page = name[:-3] if name.endswith(".gz") else name
            text = manpage_text(raw)
            if text:
                yield "man/%s/%s" % (section, page), text


# ---------------------------------------------------------------------------
# Language packs: Fluent (.ftl) and .properties files in the Mozilla language
# packs, gettext catalogues (.mo) of LibreOffice.

def _clean_ui_text(value):
    value = re.sub(r"\{[^{}]*\}", " ", value)
    value = re.sub(r"\{[^{}]*\}", " ", value)
    value = re.sub(r"<[^<>]*>", "", value)
    value = re.sub(r"%(?:\d+\$)?[-#0 +]*\d*(?:\.\d+)?[sSdDuUifFgGxXcC@]", " ", value)
    value = re.sub(r"%\d+|%[A-Z][A-Z0-9_]*%?|\$\([A-Z0-9_]+\)|\$[A-Z][A-Z0-9_]*\$|#\d", " ", value)
    value = value.replace("~", "").replace("&amp;", "&").replace("&", "")
    value = re.sub(r"[ \t]+", " ", value)
    return value.strip()


def ftl_text(raw):
    out = []
    for line in raw.splitlines():
        stripped = line.strip()
        if not stripped or stripped.startswith("#") or stripped in ("}", "{"):
            continue
        match = (re.match(r"-?[A-Za-z][\w-]*\s*=\s*(.*)$", stripped)
                 or re.match(r"\.[A-Za-z][\w-]*\s*=\s*(.*)$", stripped)
                 or re.match(r"\*?\[[^\]]+\]\s*(.*)$", stripped))
        value = match.group(1) if match else stripped
        value = _clean_ui_text(value.replace("->", ""))
        if re.search(r"\w", value) and not re.fullmatch(r"[\w.-]+\s*=.*", value):
            out.append(value)
    return "\n".join(out)


def properties_text(raw):
    out = []
    for line in raw.splitlines():
        stripped = line.strip()
        if not stripped or stripped[0] in "#!":
            continue
        match = re.match(r"[^=:\s]+\s*[=:]\s*(.*)$", stripped)
        if not match:
            continue
        value = re.sub(r"\\u([0-9a-fA-F]{4})", lambda m: chr(int(m.group(1), 16)),
                       match.group(1))
        value = value.replace("\\n", "\n").replace("\\", "")
        for part in value.split("\n"):
            part = _clean_ui_text(part)
            if re.search(r"\w", part) and not part.startswith(("http:", "https:")):
                out.append(part)
    return "\n".join(out)


def mo_strings(data):
    """The translations of a gettext catalogue, in catalogue order."""
    if len(data) < 20:
        return []
    magic = struct.unpack_from("<I", data)[0]
    order = "<" if magic == 0x950412DE else ">" if magic == 0xDE120495 else None
    if order is None:
        return []
    count, _originals, translations = struct.unpack_from(order + "III", data, 8)
    out = []
    for index in range(count):
        length, offset = struct.unpack_from(order + "II", data, translations + 8 * index)
        text = data[offset:offset + length].decode("utf-8", "replace")
        if index == 0 and "Content-Type:" in text:
            continue  # the catalogue header
        out.extend(t for t in text.split("\x00") if t)
    return out


def mo_text(data):
    out = []
    for value in mo_strings(data):
        for part in value.split("\n"):
            part = _clean_ui_text(part)
            if re.search(r"\w", part):
                out.append(part)
    return "\n".join(out)


def langpack_documents(root, lang):
    """(key, text) for every text file of the Mozilla language pack(s) below root.
    Keys drop the application and the locale, so the same file in Firefox and
    Thunderbird, or in two languages, has the same key."""
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames.sort()
        for name in sorted(filenames):
            if not name.endswith(".xpi"):
                continue
            with zipfile.ZipFile(os.path.join(dirpath, name)) as pack:
                for member in sorted(pack.namelist()):
                    if member.endswith(".ftl"):
                        text = ftl_text(pack.read(member).decode("utf-8", "replace"))
                    elif member.endswith(".properties"):
                        text = properties_text(pack.read(member).decode("utf-8", "replace"))
                    else:
                        continue
                    key = "/".join("{L}" if part in (lang, lang.replace("_", "-")) else part
                                   for part in member.split("/"))
                    if text:
                        yield "moz/" + key, text + "\n"


def mo_documents(root):
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames.sort()
        for name in sorted(filenames):
            if name.endswith(".mo"):
                with open(os.path.join(dirpath, name), "rb") as f:
                    text = mo_text(f.read())
                if text:
                    yield "mo/" + name, text + "\n"


# ---------------------------------------------------------------------------
# Documents, the split, the corpora.

def is_held_out(key):
    """The split by document: the same for every language and package."""
    digest = hashlib.sha256(key.encode("utf-8")).digest()
    return int.from_bytes(digest[:4], "little") % 100 < HELD_OUT_PERCENT


def _order(key):
    return hashlib.sha256(("order:" + key).encode("utf-8")).digest()


def documents(lang, work, updated=None):
    """All documents of a language as a sorted list of (key, text); a key that
    two packages share (Firefox and Thunderbird) is taken once."""
    updated = updated if updated is not None else [False]
    found = {}
    for kind, package, directory in LANGUAGES[lang]:
        root = fetch_package(package, work, updated)
        if kind == "man":
            produced = manpage_documents(root, directory)
        elif kind == "xpi":
            produced = langpack_documents(root, directory)
        else:
            produced = mo_documents(root)
        for key, text in produced:
            found.setdefault(key, text)
    return sorted(found.items())


def with_crlf(key, text):
    """Every fourth document (by a hash of its key) gets CR LF line ends."""
    return text.replace("\n", "\r\n") if _order(key)[4] % 4 == 0 else text


def training_corpus(lang, work, updated):
    """UTF-8 training text of one language, written into the work directory
    (anew on every run, so that it always follows this script)."""
    path = os.path.join(work, "corpus", lang + ".txt")
    docs = [(key, text) for key, text in documents(lang, work, updated) if not is_held_out(key)]
    docs.sort(key=lambda item: _order(item[0]))
    parts, size = [], 0
    for key, text in docs:
        if size >= CHARACTERS_PER_LANGUAGE:
            break
        text = text[:CHARACTERS_PER_LANGUAGE - size]
        parts.append(with_crlf(key, text))
        size += len(text)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".tmp", "w", encoding="utf-8", newline="") as f:
        f.write("\n".join(parts))
    os.replace(path + ".tmp", path)
    log("corpus %s: %d documents, %d characters" % (lang, len(parts), size))
    return path


def build_tool(tool):
    """Builds ordana-stats: with the default preset when it belongs in build/,
    otherwise in the directory that --tool names."""
    build_dir = os.path.dirname(os.path.abspath(tool))
    log("building %s" % tool)
    if build_dir == os.path.join(REPO, "build"):
        subprocess.run(["cmake", "--preset", "default"], cwd=REPO, check=True)
        subprocess.run(["cmake", "--build", "--preset", "default", "--target", "ordana-stats"],
                       cwd=REPO, check=True)
    else:
        subprocess.run(["cmake", "-S", REPO, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release"],
                       check=True)
        subprocess.run(["cmake", "--build", build_dir, "--target", "ordana-stats"], check=True)


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--work", default=DEFAULT_WORK,
                        help="download, unpack and corpus directory (default %(default)s)")
    parser.add_argument("--tool", default=os.path.join(REPO, "build", "ordana-stats"),
                        help="the ordana-stats program (built when missing)")
    parser.add_argument("--output", default=os.path.join(REPO, "data", "stats"),
                        help="where the .dat files go (default data/stats)")
    parser.add_argument("--only", action="append", default=[],
                        help="build only this file (name with or without .dat); repeatable")
    parser.add_argument("--list", action="store_true", help="print the plan and stop")
    parser.add_argument("--check", action="store_true",
                        help="rebuild into a scratch directory and compare with --output")
    parser.add_argument("--tool-option", action="append", default=[],
                        help="extra option for ordana-stats, e.g. --tool-option=--max-triples=9000")
    return parser.parse_args()


def print_plan(plan):
    for name, charset, label, langs, _options in plan:
        sources = sorted({p for lang in langs for _k, p, _d in LANGUAGES[lang]})
        print("%-18s id %2d  %-4s  %s  <- %s" % (name, charset, label, " ".join(langs),
                                                  " ".join(sources)))


def build_files(args, plan, work, target):
    """Runs ordana-stats once per planned file, writing into `target`."""
    updated = [False]
    extra = []
    for option in args.tool_option:
        extra.extend(option.split("=", 1))
    corpora_of = {}
    for name, charset, label, langs, options in plan:
        for lang in langs:
            if lang not in corpora_of:
                corpora_of[lang] = training_corpus(lang, work, updated)
        corpora = [corpora_of[lang] for lang in langs]
        command = [args.tool, "--charset", str(charset), "--label", label,
                   "--output", os.path.join(target, name)] + options + extra + corpora
        log("ordana-stats -> %s" % name)
        subprocess.run(command, check=True)


def compare_with_shipped(plan, rebuilt_dir, shipped_dir):
    """0 when every rebuilt file equals the shipped one, 1 (after saying which differ) otherwise."""
    differing = []
    for name, *_rest in plan:
        with open(os.path.join(rebuilt_dir, name), "rb") as rebuilt:
            shipped_path = os.path.join(shipped_dir, name)
            if not os.path.exists(shipped_path):
                differing.append(name + " (missing)")
                continue
            with open(shipped_path, "rb") as shipped:
                if rebuilt.read() != shipped.read():
                    differing.append(name)
    if differing:
        log("differs from a rebuild: " + ", ".join(differing))
        return 1
    log("%d files are as a rebuild makes them" % len(plan))
    return 0


def main():
    args = parse_arguments()
    wanted = {name if name.endswith(".dat") else name + ".dat" for name in args.only}
    plan = [entry for entry in STATS if not wanted or entry[0] in wanted]
    unknown = wanted - {entry[0] for entry in STATS}
    if unknown:
        sys.exit("train_stats: no such file: %s" % ", ".join(sorted(unknown)))
    if args.list:
        print_plan(plan)
        return 0

    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    if not os.path.exists(args.tool):
        build_tool(args.tool)
    target = args.output
    if args.check:
        target = os.path.join(work, "check")
        shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target, exist_ok=True)
    build_files(args, plan, work, target)
    if args.check:
        return compare_with_shipped(plan, target, args.output)
    return 0

if __name__ == "__main__":
    sys.exit(main())
