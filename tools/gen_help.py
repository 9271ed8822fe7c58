#!/usr/bin/env python3
"""Generates the POSIX help of ordana (src/app/HelpText.cpp, English and
German) and its manual page (doc/ordana.1) from one table of options, so the
two cannot drift apart.

Usage:
  python3 tools/gen_help.py            write both files
  python3 tools/gen_help.py --check    exit 1 if either file differs from what this writes

Each option row: the GNU spellings, the value's name (or None), the Windows
style spellings of the same option, and what it does in English and German.
A unit test checks that every spelling the program accepts appears here and
every spelling here is accepted.
"""

import argparse
import os
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
HELP_PATH = "src/app/HelpText.cpp"
MAN_PATH = "doc/ordana.1"
VERSION = "2.0.17.8"

# (gnu spellings, value, slash spellings, english, german)
OPTIONS = [
    (["-f", "--from"], "CHARSET", ["/i", "/scs="],
     "source character set (default auto: detect it)",
     "Quell-Zeichensatz (Standard auto: erkennen)"),
    (["-t", "--to"], "CHARSET", ["/o", "/dcs="],
     "destination character set (default utf-16)",
     "Ziel-Zeichensatz (Standard utf-16)"),
    (["-o", "--output"], "PATH", ["/output="],
     "the output file or directory; - is standard output",
     "Ausgabedatei oder -verzeichnis; - ist die Standardausgabe"),
    (["--no-bom"], None, ["/nobom"],
     "never write a byte order mark",
     "nie eine Byte-Reihenfolge-Marke schreiben"),
    (["--eol"], "MODE", ["/eol", "/eol="],
     "line ends: unix, dos or mac",
     "Zeilenenden: unix, dos oder mac"),
    (["--xml"], None, ["/xml"],
     "rewrite the encoding of an XML declaration",
     "die Kodierung einer XML-Deklaration anpassen"),
    (["--html"], None, ["/html"],
     "accepted, changes nothing",
     "angenommen, ändert nichts"),
    (["--html-entities"], "enc|dec", ["/htmlentity", "/htmlentity="],
     "write HTML entities (enc) or resolve them (dec)",
     "HTML-Entitäten schreiben (enc) oder auflösen (dec)"),
    (["--policy"], "strict|loose", ["/policy", "/policy="],
     "how malformed input is handled (default strict)",
     "Umgang mit fehlerhafter Eingabe (Standard strict)"),
    (["-r", "--recursive"], None, ["/r", "/recursive"],
     "include subdirectories",
     "Unterverzeichnisse einbeziehen"),
    (["--binary"], None, ["/binary"],
     "pattern and directory runs convert files that look binary too",
     "Muster- und Verzeichnisläufe wandeln auch binär wirkende Dateien um"),
    (["--follow-links"], None, ["/followlinks"],
     "pattern and directory runs follow every symbolic link, whoever owns it",
     "Muster- und Verzeichnisläufe folgen jeder symbolischen Verknüpfung"),
    (["-y", "--yes"], None, ["/y"],
     "answer every question yes",
     "jede Frage mit ja beantworten"),
    (["--no"], None, ["/y-"],
     "answer every question no",
     "jede Frage mit nein beantworten"),
    (["-q", "--quiet", "--silent"], None, ["/s", "/silent"],
     "no messages, no questions",
     "keine Meldungen, keine Fragen"),
    (["--log"], "[=FILE]", ["/log", "/log=", "/logto"],
     "write the messages into FILE (default ordana.log)",
     "Meldungen in DATEI schreiben (Standard ordana.log)"),
    (["--log-level"], "N", ["/loglevel", "/loglevel="],
     "1 normal, 2 details, 5 filter trace, 0 nothing",
     "1 normal, 2 Details, 5 Filterablauf, 0 nichts"),
    (["--files-from"], "FILE", [],
     "convert the files listed in FILE (- standard input), one a line",
     "die in DATEI aufgeführten Dateien konvertieren (- Standardeingabe), eine je Zeile"),
    (["--null"], None, [],
     "the list of --files-from is separated by NUL bytes",
     "die Liste von --files-from ist durch NUL-Bytes getrennt"),
    (["--detect"], None, ["/detect"],
     "print each input's character set (PATH: NAME), convert nothing",
     "den Zeichensatz jeder Eingabe ausgeben (PFAD: NAME), nichts konvertieren"),
    (["--verbose"], None, ["/verbose"],
     "with --detect: how, and the runners-up with their scores",
     "mit --detect: wie, und die Nächstbesten mit ihren Punkten"),
    (["--csv"], "FILE", ["/csv"],
     "append a tab-separated line per conversion to FILE",
     "je Konvertierung eine Zeile an DATEI anhängen"),
    (["--status-channel"], "PID", ["/ssb"],
     "publish in the status channel of process PID",
     "im Statuskanal des Prozesses PID veröffentlichen"),
    (["--list"], None, ["/listall"],
     "list every character set name and exit",
     "alle Zeichensatznamen auflisten und beenden"),
    (["--list-csv"], None, ["/listallcsv"],
     "list the sets with a description and exit",
     "die Zeichensätze mit Beschreibung auflisten und beenden"),
    (["-h", "--help"], None, [],
     "show this help and exit (/? shows the Windows-style usage)",
     "diese Hilfe zeigen und beenden (/? zeigt die Windows-Verwendung)"),
    (["--version"], None, [],
     "show the version and exit",
     "die Version zeigen und beenden"),
]

EXIT_CODES = [
    ("0", "done; help, version or a listing printed",
     "erledigt; Hilfe, Version oder Liste ausgegeben"),
    ("1", "the source character set is unknown or cannot be used",
     "Quell-Zeichensatz unbekannt oder nicht verwendbar"),
    ("2", "the destination character set is unknown or cannot be used",
     "Ziel-Zeichensatz unbekannt oder nicht verwendbar"),
    ("3", "the command line cannot be used as given",
     "die Befehlszeile ist so nicht verwendbar"),
    ("4", "one or more inputs failed (reported; their files are as they were), or the CSV report "
          "could not be written",
     "eine oder mehrere Eingaben schlugen fehl (gemeldet; ihre Dateien blieben unverändert), oder "
     "der CSV-Bericht konnte nicht geschrieben werden"),
    ("5", "a directory was given and the answer was no",
     "ein Verzeichnis wurde angegeben und die Antwort war nein"),
    ("6", "several inputs would go into one file and the answer was no",
     "mehrere Eingaben gingen in eine Datei und die Antwort war nein"),
    ("8", "out of memory", "Speicher erschöpft"),
    ("128+N", "ended by signal N (the file being converted is as it was)",
     "durch Signal N beendet (die gerade konvertierte Datei blieb unverändert)"),
]

EXAMPLES = [
    ("ordana notes.txt -t utf-8", "detect the set of notes.txt and convert it in place to UTF-8",
     "den Zeichensatz von notes.txt erkennen und die Datei in UTF-8 umwandeln"),
    ("ordana -f windows-1252 -t utf-8 -o out.txt in.txt", "convert into another file",
     "in eine andere Datei umwandeln"),
    ("ordana '*.txt' -r -t utf-8 --eol=unix", "every .txt file below here, with LF line ends",
     "jede .txt-Datei hier und darunter, mit LF-Zeilenenden"),
    ("ordana -f koi8-r -t utf-8 - < in.txt > out.txt",
     "standard input to standard output", "Standardeingabe zur Standardausgabe"),
    ("ordana --detect '*.txt'", "name the character set of every .txt file here, change nothing",
     "den Zeichensatz jeder .txt-Datei hier nennen, nichts ändern"),
    ("ordana --list | grep -i latin", "find a character set name", "einen Zeichensatznamen finden"),
]

TEXTS = {
    "en": {
        "usage": "Usage: ordana [OPTION]... INPUT [OUTPUT]",
        "intro": [
            "Converts text files between character encodings.",
            "",
            "INPUT is a file, a wildcard pattern in quotes ('*.txt'), a directory, or -",
            "for standard input. Without OUTPUT every input is converted in place; OUTPUT",
            "is a file, a directory, or - for standard output. -- ends the options. Each",
            "option has a Windows-style spelling too, shown in brackets; the character",
            "sets are listed by --list.",
            "",
            "Messages and questions go to standard error, the log file (--log) is UTF-8;",
            "standard output carries only what was asked for: converted text, the help,",
            "the listings.",
        ],
        "options": "Options:",
        "exit": "Exit status:",
        "examples": "Examples:",
    },
    "de": {
        "usage": "Verwendung: ordana [OPTION]... EINGABE [AUSGABE]",
        "intro": [
            "Wandelt Textdateien zwischen Zeichenkodierungen um.",
            "",
            "EINGABE ist eine Datei, ein Platzhaltermuster in Anführungszeichen ('*.txt'),",
            "ein Verzeichnis oder - für die Standardeingabe. Ohne AUSGABE wird jede Eingabe",
            "an Ort und Stelle umgewandelt; AUSGABE ist eine Datei, ein Verzeichnis oder -",
            "für die Standardausgabe. -- beendet die Optionen. Jede Option hat auch eine",
            "Windows-Schreibweise (in Klammern); --list zeigt die Zeichensätze.",
            "",
            "Meldungen und Fragen gehen auf die Standardfehlerausgabe, die Protokolldatei",
            "(--log) ist UTF-8; die Standardausgabe trägt nur, was verlangt wurde:",
            "umgewandelten Text, die Hilfe, die Listen.",
        ],
        "options": "Optionen:",
        "exit": "Rückgabewert:",
        "examples": "Beispiele:",
    },
}

COLUMN = 30


def option_left(gnu, value):
    shorts = [s for s in gnu if not s.startswith("--")]
    longs = [s for s in gnu if s.startswith("--")]
    parts = []
    for s in shorts:
        parts.append(s + (" " + value if value and not value.startswith("[") else ""))
    for s in longs:
        if value is None:
            parts.append(s)
        elif value.startswith("["):
            parts.append(s + value)
        else:
            parts.append(s + "=" + value)
    return ", ".join(parts)


def help_text(language):
    t = TEXTS[language]
    index = 3 if language == "en" else 4
    lines = [t["usage"]] + t["intro"] + ["", t["options"]]
    for row in OPTIONS:
        gnu, value, slash = row[0], row[1], row[2]
        left = "  " + option_left(gnu, value)
        text = row[index]
        spellings = " [" + ", ".join(slash) + "]" if slash else ""
        if len(left) >= COLUMN:
            lines.append(left)
            left = ""
        line = left.ljust(COLUMN) + text
        if spellings and len(line + spellings) > 79:
            lines.append(line)
            line = " " * COLUMN + spellings.strip()
        lines.append(line + spellings if not line.strip().startswith("[") else line)
    lines += ["", t["exit"]]
    for code, english, german in EXIT_CODES:
        lines.append("  " + code.ljust(7) + (english if language == "en" else german))
    lines += ["", t["examples"]]
    for command, english, german in EXAMPLES:
        lines.append("  " + command)
        lines.append("      " + (english if language == "en" else german))
    return "\n".join(lines) + "\n"


def cpp_literal(text):
    out = []
    for line in text.split("\n")[:-1]:
        escaped = line.replace("\\", "\\\\").replace('"', '\\"')
        out.append('    u"%s\\n"' % escaped)
    return "\n".join(out)


def help_cpp():
    return """// Generated by tools/gen_help.py from its option table; do not edit.
// The POSIX help (-h, --help) in English and German.

#include "app/HelpText.h"

namespace ordana {

const char16_t kHelpTextEnglish[] =
%s;

const char16_t kHelpTextGerman[] =
%s;

}  // namespace ordana
""" % (cpp_literal(help_text("en")), cpp_literal(help_text("de")))


def roff(text):
    return text.replace("\\", "\\e").replace("-", "\\-")


def man_page():
    out = [
        '.\\" Generated by tools/gen_help.py from its option table; do not edit.',
        '.TH ORDANA 1 "" "ordana %s" "User Commands"' % VERSION,
        ".SH NAME",
        "ordana \\- convert text files between character encodings",
        ".SH SYNOPSIS",
        ".B ordana",
        "[\\fIOPTION\\fR]... \\fIINPUT\\fR [\\fIOUTPUT\\fR]",
        ".SH DESCRIPTION",
    ]
    out += [roff(line) for line in TEXTS["en"]["intro"] if line] + [
        ".PP",
        "In place, each file is converted into a temporary file beside it that replaces",
        "it only once the whole result is written; if anything fails the original stays",
        "as it was and the exit status says so.",
        ".SH OPTIONS",
    ]
    for gnu, value, slash, english, _ in OPTIONS:
        out.append(".TP")
        out.append("\\fB" + roff(option_left(gnu, value)) + "\\fR")
        text = english + (" [" + ", ".join(slash) + "]" if slash else "")
        out.append(roff(text[0].upper() + text[1:]) + ".")
    out.append(".SH EXIT STATUS")
    for code, english, _ in EXIT_CODES:
        out += [".TP", "\\fB" + roff(code) + "\\fR", roff(english[0].upper() + english[1:]) + "."]
    out.append(".SH EXAMPLES")
    for command, english, _ in EXAMPLES:
        out += [".TP", "\\fB" + roff(command) + "\\fR", roff(english[0].upper() + english[1:]) + "."]
    out += [".SH SEE ALSO", "\\fBordana\\-watch\\fR(1), \\fBordana\\-stats\\fR(1), \\fBiconv\\fR(1)"]
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    outputs = {HELP_PATH: help_cpp(), MAN_PATH: man_page()}
    status = 0
    for relative, content in outputs.items():
        path = os.path.join(ROOT, relative)
        if args.check:
            try:
                with open(path, encoding="utf-8") as f:
                    current = f.read()
            except OSError:
                current = None
            if current != content:
                print("%s is not what tools/gen_help.py writes; run it" % relative, file=sys.stderr)
                status = 1
        else:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path + ".tmp", "w", encoding="utf-8") as f:
                f.write(content)
            os.replace(path + ".tmp", path)
    return status


if __name__ == "__main__":
    sys.exit(main())
