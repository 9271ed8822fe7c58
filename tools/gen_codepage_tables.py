#!/usr/bin/env python3
"""Generates src/codecs/CodePageTables.cpp, the byte-to-UTF-16 tables of the
60 single-byte character sets (CharsetId 0..59).

Sources:
  * Python's charmap codecs, which carry the Unicode Consortium's published
    mapping files (ISO8859/, VENDORS/MICSFT/, VENDORS/APPLE/, VENDORS/MISC/,
    KOI8-R, KOI8-U);
  * a short list of per-byte differences where the program follows the
    Microsoft variants of the Apple sets, TIS-620 and a plain percent sign
    in DOS-864;
  * the AtariST and NeXT tables embedded below (Python has no codec for them).

Usage:
  python3 tools/gen_codepage_tables.py                 write the file to stdout
  python3 tools/gen_codepage_tables.py --output FILE   write FILE (replaced only on success)
  python3 tools/gen_codepage_tables.py --check FILE    exit 1 if FILE differs from the output

The output depends only on this script and on the codec tables of the Python
standard library, so it is the same on every run.  Any doubtful input stops
the generator with a message (exit code 2) instead of producing a table.
"""

import argparse
import codecs
import difflib
import importlib
import os
import re
import sys

OUTPUT_PATH = "src/codecs/CodePageTables.cpp"
NO_MAPPING = None          # internal marker; written as 0xFFFF
NO_MAPPING_UNIT = 0xFFFF
TABLE_COUNT = 60
EBCDIC_IDS = frozenset((56, 57, 58, 59))   # the only sets whose 0x00..0x7F are not ASCII

# Bytes that legitimately share one code unit.  Any other table that maps two
# bytes to the same unit is refused: it would mean a wrong source table.
SHARED_CODE_UNITS = {
    54: {0xFE8E: (0xB1, 0xB2)},
    55: {0xFFFD: (0xFE, 0xFF)},
    58: {0x001A: (0x3F, 0xDC, 0xE1, 0xEC, 0xED, 0xFC, 0xFD)},
}

# Bytes 0x80..0xFF of the two sets Python does not know, one row per high
# nibble, sixteen code units per row.  Bytes 0x00..0x7F are ASCII.
ATARIST_HIGH = """
| 8 | 00C7 | 00FC | 00E9 | 00E2 | 00E4 | 00E0 | 00E5 | 00E7 | 00EA | 00EB | 00E8 | 00EF | 00EE | 00EC | 00C4 | 00C5 |
| 9 | 00C9 | 00E6 | 00C6 | 00F4 | 00F6 | 00F2 | 00FB | 00F9 | 00FF | 00D6 | 00DC | 00A2 | 00A3 | 00A5 | 00DF | 0192 |
| A | 00E1 | 00ED | 00F3 | 00FA | 00F1 | 00D1 | 00AA | 00BA | 00BF | 2310 | 00AC | 00BD | 00BC | 00A1 | 00AB | 00BB |
| B | 00E3 | 00F5 | 00D8 | 00F8 | 0153 | 0152 | 00C0 | 00C3 | 00D5 | 00A8 | 00B4 | 2020 | 00B6 | 00A9 | 00AE | 2122 |
| C | 0133 | 0132 | 05D0 | 05D1 | 05D2 | 05D3 | 05D4 | 05D5 | 05D6 | 05D7 | 05D8 | 05D9 | 05DB | 05DC | 05DE | 05E0 |
| D | 05E1 | 05E2 | 05E4 | 05E6 | 05E7 | 05E8 | 05E9 | 05EA | 05DF | 05DA | 05DD | 05E3 | 05E5 | 00A7 | 2227 | 221E |
| E | 03B1 | 03B2 | 0393 | 03C0 | 03A3 | 03C3 | 00B5 | 03C4 | 03A6 | 0398 | 03A9 | 03B4 | 222E | 03C6 | 2208 | 2229 |
| F | 2261 | 00B1 | 2265 | 2264 | 2320 | 2321 | 00F7 | 2248 | 00B0 | 2219 | 00B7 | 221A | 207F | 00B2 | 00B3 | 00AF |
"""

NEXT_HIGH = """
| 8 | 00A0 | 00C0 | 00C1 | 00C2 | 00C3 | 00C4 | 00C5 | 00C7 | 00C8 | 00C9 | 00CA | 00CB | 00CC | 00CD | 00CE | 00CF |
| 9 | 00D0 | 00D1 | 00D2 | 00D3 | 00D4 | 00D5 | 00D6 | 00D9 | 00DA | 00DB | 00DC | 00DD | 00DE | 00B5 | 00D7 | 00F7 |
| A | 00A9 | 00A1 | 00A2 | 00A3 | 2044 | 00A5 | 0192 | 00A7 | 00A4 | 2019 | 201C | 00AB | 2039 | 203A | FB01 | FB02 |
| B | 00AE | 2013 | 2020 | 2021 | 00B7 | 00A6 | 00B6 | 2022 | 201A | 201E | 201D | 00BB | 2026 | 2030 | 00AC | 00BF |
| C | 00B9 | 02CB | 00B4 | 02C6 | 02DC | 00AF | 02D8 | 02D9 | 00A8 | 00B2 | 02DA | 00B8 | 00B3 | 02DD | 02DB | 02C7 |
| D | 2014 | 00B1 | 00BC | 00BD | 00BE | 00E0 | 00E1 | 00E2 | 00E3 | 00E4 | 00E5 | 00E7 | 00E8 | 00E9 | 00EA | 00EB |
| E | 00EC | 00C6 | 00ED | 00AA | 00EE | 00EF | 00F0 | 00F1 | 0141 | 00D8 | 0152 | 00BA | 00F2 | 00F3 | 00F4 | 00F5 |
| F | 00F6 | 00E6 | 00F9 | 00FA | 00FB | 0131 | 00FC | 00FD | 0142 | 00F8 | 0153 | 00DF | 00FE | 00FF | FFFD | FFFD |
"""


class GeneratorError(Exception):
    pass


class Codec:
    """A published mapping file as carried by a Python charmap codec.

    `origin` is the file the codec module says it was generated from (without
    ".TXT"); it guards against picking the codec of a neighbouring set.
    """

    def __init__(self, name, mapping_file, origin=None):
        self.name = name
        self.mapping_file = mapping_file
        self.origin = origin or mapping_file

    def describe(self):
        return "%s (Python codec %s)" % (self.mapping_file, self.name)


class Embedded:
    """ASCII plus a high half embedded in this generator."""

    def __init__(self, label, text):
        self.label = label
        self.text = text

    def describe(self):
        return "ASCII + %s table in tools/gen_codepage_tables.py" % self.label


class SameAs:
    """The finished table of an earlier id."""

    def __init__(self, charset_id):
        self.charset_id = charset_id

    def describe(self):
        return "identical to id %d" % self.charset_id


# (id, primary name, source, differences).  A difference is (byte, code unit)
# or (byte, NO_MAPPING); it must change the value of the source table.
CODE_PAGES = (
    (0, "ISO-8859-1", Codec("iso8859_1", "ISO8859/8859-1"), ()),
    (1, "ISO-8859-2", Codec("iso8859_2", "ISO8859/8859-2"), ()),
    (2, "ISO-8859-3", Codec("iso8859_3", "ISO8859/8859-3"), ()),
    (3, "ISO-8859-4", Codec("iso8859_4", "ISO8859/8859-4"), ()),
    (4, "ISO-8859-5", Codec("iso8859_5", "ISO8859/8859-5"), ()),
    (5, "ISO-8859-6", Codec("iso8859_6", "ISO8859/8859-6"), ()),
    (6, "ISO-8859-7", Codec("iso8859_7", "ISO8859/8859-7"), ()),
    (7, "ISO-8859-8", Codec("iso8859_8", "ISO8859/8859-8"), ()),
    (8, "ISO-8859-9", Codec("iso8859_9", "ISO8859/8859-9"), ()),
    (9, "ISO-8859-10", Codec("iso8859_10", "ISO8859/8859-10"), ()),
    # TIS-620 leaves 0xA0 unassigned; 8859-11 calls it NO-BREAK SPACE.
    (10, "ISO-8859-11", Codec("iso8859_11", "ISO8859/8859-11"), ((0xA0, NO_MAPPING),)),
    (11, "ISO-8859-16", Codec("iso8859_16", "ISO8859/8859-16"), ()),
    (12, "ISO-8859-13", Codec("iso8859_13", "ISO8859/8859-13"), ()),
    (13, "ISO-8859-14", Codec("iso8859_14", "ISO8859/8859-14"), ()),
    (14, "ISO-8859-15", Codec("iso8859_15", "ISO8859/8859-15"), ()),
    (15, "Windows-874", Codec("cp874", "VENDORS/MICSFT/WINDOWS/CP874"), ()),
    (16, "Windows-1250", Codec("cp1250", "VENDORS/MICSFT/WINDOWS/CP1250"), ()),
    (17, "Windows-1251", Codec("cp1251", "VENDORS/MICSFT/WINDOWS/CP1251"), ()),
    (18, "Windows-1252", Codec("cp1252", "VENDORS/MICSFT/WINDOWS/CP1252"), ()),
    (19, "Windows-1253", Codec("cp1253", "VENDORS/MICSFT/WINDOWS/CP1253"), ()),
    (20, "Windows-1254", Codec("cp1254", "VENDORS/MICSFT/WINDOWS/CP1254"), ()),
    (21, "Windows-1255", Codec("cp1255", "VENDORS/MICSFT/WINDOWS/CP1255"), ()),
    (22, "Windows-1256", Codec("cp1256", "VENDORS/MICSFT/WINDOWS/CP1256"), ()),
    (23, "Windows-1257", Codec("cp1257", "VENDORS/MICSFT/WINDOWS/CP1257"), ()),
    (24, "Windows-1258", Codec("cp1258", "VENDORS/MICSFT/WINDOWS/CP1258"), ()),
    (25, "DOS-437", Codec("cp437", "VENDORS/MICSFT/PC/CP437"), ()),
    (26, "DOS-737", Codec("cp737", "VENDORS/MICSFT/PC/CP737"), ()),
    (27, "DOS-775", Codec("cp775", "VENDORS/MICSFT/PC/CP775"), ()),
    (28, "DOS-850", Codec("cp850", "VENDORS/MICSFT/PC/CP850"), ()),
    (29, "DOS-852", Codec("cp852", "VENDORS/MICSFT/PC/CP852"), ()),
    (30, "DOS-855", Codec("cp855", "VENDORS/MICSFT/PC/CP855"), ()),
    (31, "DOS-857", Codec("cp857", "VENDORS/MICSFT/PC/CP857"), ()),
    (32, "DOS-860", Codec("cp860", "VENDORS/MICSFT/PC/CP860"), ()),
    (33, "DOS-861", Codec("cp861", "VENDORS/MICSFT/PC/CP861"), ()),
    (34, "DOS-862", Codec("cp862", "VENDORS/MICSFT/PC/CP862"), ()),
    (35, "DOS-863", Codec("cp863", "VENDORS/MICSFT/PC/CP863"), ()),
    # The file maps 0x25 to ARABIC PERCENT SIGN; a plain '%' keeps the ASCII half intact.
    (36, "DOS-864", Codec("cp864", "VENDORS/MICSFT/PC/CP864"), ((0x25, 0x0025),)),
    (37, "DOS-865", Codec("cp865", "VENDORS/MICSFT/PC/CP865"), ()),
    (38, "DOS-866", Codec("cp866", "VENDORS/MICSFT/PC/CP866"), ()),
    (39, "DOS-869", Codec("cp869", "VENDORS/MICSFT/PC/CP869"), ()),
    (40, "DOS-874", SameAs(15), ()),
    # The MSMAC sets are Microsoft's code pages 100xx, which keep the Apple
    # assignments from before the euro sign and other later revisions.
    (41, "MSMAC-CYRILLIC", Codec("mac_cyrillic", "VENDORS/APPLE/CYRILLIC"),
     ((0xA2, 0x00A2), (0xB6, 0x2202), (0xFF, 0x00A4))),
    (42, "MSMAC-GREEK", Codec("mac_greek", "VENDORS/APPLE/GREEK"),
     ((0x9C, 0x00AD), (0xAF, 0x0387), (0xFF, NO_MAPPING))),
    (43, "MSMAC-ICELAND", Codec("mac_iceland", "VENDORS/APPLE/ICELAND"),
     ((0xBD, 0x2126), (0xDB, 0x00A4), (0xF0, NO_MAPPING))),
    (44, "MSMAC-LATIN2", Codec("mac_latin2", "VENDORS/MICSFT/MAC/LATIN2"), ()),
    (45, "MSMAC-ROMAN", Codec("mac_roman", "VENDORS/APPLE/ROMAN"),
     ((0xBD, 0x2126), (0xDB, 0x00A4), (0xF0, NO_MAPPING))),
    (46, "MSMAC-TURKISH", Codec("mac_turkish", "VENDORS/APPLE/TURKISH"),
     ((0xBD, 0x2126), (0xF0, NO_MAPPING), (0xF5, NO_MAPPING))),
    (47, "Apple-CENTEURO", Codec("mac_latin2", "VENDORS/MICSFT/MAC/LATIN2"), ()),
    (48, "Apple-Roman", Codec("mac_roman", "VENDORS/APPLE/ROMAN"), ()),
    (49, "AtariST", Embedded("AtariST", ATARIST_HIGH), ()),
    (50, "KOI8-R", Codec("koi8_r", "KOI8-R (RFC 1489)", "VENDORS/MISC/KOI8-R"), ()),
    (51, "KOI8-U", Codec("koi8_u", "KOI8-U (RFC 2319)", "KOI8-U"), ()),
    (52, "CP856", Codec("cp856", "VENDORS/MISC/CP856"), ()),
    (53, "KZ-1048", Codec("kz1048", "VENDORS/MISC/KZ1048"), ()),
    (54, "CP1006", Codec("cp1006", "VENDORS/MISC/CP1006"), ()),
    (55, "NeXT", Embedded("NeXT", NEXT_HIGH), ()),
    (56, "EBCDIC-37", Codec("cp037", "VENDORS/MICSFT/EBCDIC/CP037"), ()),
    (57, "EBCDIC-500", Codec("cp500", "VENDORS/MICSFT/EBCDIC/CP500"), ()),
    (58, "EBCDIC-875", Codec("cp875", "VENDORS/MICSFT/EBCDIC/CP875"), ()),
    (59, "EBCDIC-1026", Codec("cp1026", "VENDORS/MICSFT/EBCDIC/CP1026"), ()),
)


def fail(message):
    raise GeneratorError(message)


def check_code_unit(value, where):
    """Refuses what cannot be a mapped code unit of a table."""
    if not isinstance(value, int) or isinstance(value, bool):
        fail("%s: %r is not a number" % (where, value))
    if value < 0 or value > 0xFFFF:
        fail("%s: U+%X does not fit in one UTF-16 code unit" % (where, value))
    if value == NO_MAPPING_UNIT:
        fail("%s: maps to U+FFFF, which the tables reserve for 'no mapping'" % where)
    if 0xD800 <= value <= 0xDFFF:
        fail("%s: maps to the surrogate U+%04X" % (where, value))


def table_from_codec(charset_id, codec):
    try:
        codecs.lookup(codec.name)
        module = importlib.import_module("encodings." + codec.name)
    except (LookupError, ImportError):
        fail("id %d: this Python has no codec '%s' for %s"
             % (charset_id, codec.name, codec.mapping_file))
    found = re.search(r"generated from '([^']*)'", module.__doc__ or "")
    wanted = codec.origin + ".TXT"
    if not found or not (found.group(1) == wanted or found.group(1).endswith("/" + wanted)):
        fail("id %d: Python codec '%s' was generated from %s, expected %s"
             % (charset_id, codec.name, found.group(1) if found else "an unnamed file", wanted))
    table = []
    for byte in range(256):
        where = "id %d (%s) byte 0x%02X" % (charset_id, codec.name, byte)
        try:
            text = bytes([byte]).decode(codec.name, "strict")
        except UnicodeDecodeError:
            table.append(NO_MAPPING)
            continue
        if len(text) != 1:
            fail("%s: decodes to %d characters, expected one" % (where, len(text)))
        value = ord(text)
        if value == 0xFFFE:
            # The charmap codecs write U+FFFE for positions the file leaves undefined.
            table.append(NO_MAPPING)
            continue
        check_code_unit(value, where)
        table.append(value)
    return table


def table_from_embedded(charset_id, embedded):
    """Parses '| row | 16 x hex |' lines for rows 8..F; every cell is needed once."""
    rows = {}
    for line_number, line in enumerate(embedded.text.splitlines(), 1):
        line = line.strip()
        if not line:
            continue
        where = "id %d (%s table) line %d" % (charset_id, embedded.label, line_number)
        if not (line.startswith("|") and line.endswith("|")):
            fail("%s: expected a '| row | ... |' line, got %r" % (where, line))
        cells = [cell.strip() for cell in line[1:-1].split("|")]
        if len(cells) != 17:
            fail("%s: expected a row label and 16 code units, got %d cells"
                 % (where, len(cells)))
        label = cells[0]
        if not re.fullmatch(r"[89A-F]", label):
            fail("%s: row label %r is not one of 8..F" % (where, label))
        row = int(label, 16)
        if row in rows:
            fail("%s: row %s appears twice" % (where, label))
        values = []
        for column, cell in enumerate(cells[1:]):
            cell_where = "%s byte 0x%X%X" % (where, row, column)
            if not re.fullmatch(r"[0-9A-Fa-f]+", cell):
                fail("%s: %r is not a hexadecimal code unit" % (cell_where, cell))
            if len(cell) != 4:
                fail("%s: %r must have exactly four hexadecimal digits" % (cell_where, cell))
            value = int(cell, 16)
            check_code_unit(value, cell_where)
            values.append(value)
        rows[row] = values
    missing = [row for row in range(0x8, 0x10) if row not in rows]
    if missing:
        fail("id %d (%s table): rows %s are missing"
             % (charset_id, embedded.label, ", ".join("%X" % row for row in missing)))
    table = list(range(0x80))
    for row in range(0x8, 0x10):
        table.extend(rows[row])
    return table


def apply_differences(charset_id, table, differences):
    seen = set()
    for difference in differences:
        if len(difference) != 2:
            fail("id %d: difference %r is not (byte, value)" % (charset_id, difference))
        byte, value = difference
        where = "id %d difference at byte %r" % (charset_id, byte)
        if not isinstance(byte, int) or not 0 <= byte <= 0xFF:
            fail("%s: not a byte" % where)
        if byte in seen:
            fail("id %d: byte 0x%02X has two differences" % (charset_id, byte))
        seen.add(byte)
        if value is not NO_MAPPING:
            check_code_unit(value, where)
        if table[byte] == value:
            fail("id %d: the difference at byte 0x%02X changes nothing; "
                 "is the source table the right one?" % (charset_id, byte))
        table[byte] = value


def check_table(charset_id, table):
    if len(table) != 256:
        fail("id %d: table has %d entries, expected 256" % (charset_id, len(table)))
    for byte, value in enumerate(table):
        if value is not NO_MAPPING:
            check_code_unit(value, "id %d byte 0x%02X" % (charset_id, byte))
    if charset_id not in EBCDIC_IDS:
        for byte in range(0x80):
            if table[byte] != byte:
                fail("id %d: byte 0x%02X maps to %s, but 0x00..0x7F must be ASCII"
                     % (charset_id, byte, format_unit(table[byte])))
    bytes_by_unit = {}
    for byte, value in enumerate(table):
        if value is not NO_MAPPING:
            bytes_by_unit.setdefault(value, []).append(byte)
    shared = {unit: tuple(found) for unit, found in bytes_by_unit.items() if len(found) > 1}
    expected = SHARED_CODE_UNITS.get(charset_id, {})
    if shared != expected:
        fail("id %d: bytes sharing a code unit are %s, expected %s"
             % (charset_id, describe_shared(shared), describe_shared(expected)))


def describe_shared(shared):
    if not shared:
        return "none"
    return "; ".join("U+%04X <- %s" % (unit, ", ".join("0x%02X" % b for b in found))
                     for unit, found in sorted(shared.items()))


def format_unit(value):
    return "no mapping" if value is NO_MAPPING else "U+%04X" % value


def build_tables():
    if len(CODE_PAGES) != TABLE_COUNT:
        fail("%d character sets listed, expected %d" % (len(CODE_PAGES), TABLE_COUNT))
    names = set()
    tables = []
    for position, (charset_id, name, source, differences) in enumerate(CODE_PAGES):
        if charset_id != position:
            fail("entry %d has id %d; ids must run 0..%d in order"
                 % (position, charset_id, TABLE_COUNT - 1))
        folded = name.casefold()
        if folded in names:
            fail("id %d: the name %s is used twice" % (charset_id, name))
        names.add(folded)
        if isinstance(source, Codec):
            table = table_from_codec(charset_id, source)
        elif isinstance(source, Embedded):
            table = table_from_embedded(charset_id, source)
        elif isinstance(source, SameAs):
            if not 0 <= source.charset_id < charset_id:
                fail("id %d: can only copy an earlier id, not %d" % (charset_id, source.charset_id))
            table = list(tables[source.charset_id])
        else:
            fail("id %d: unknown source %r" % (charset_id, source))
        apply_differences(charset_id, table, differences)
        check_table(charset_id, table)
        tables.append(table)
    return tables


def describe_differences(differences):
    return ", ".join("0x%02X -> %s" % (byte, format_unit(value)) for byte, value in differences)


def render(tables):
    out = []
    emit = out.append
    emit("// Generated by tools/gen_codepage_tables.py from Python's codecs and the tables in "
         "this generator; do not edit. Regenerate: python3 tools/gen_codepage_tables.py "
         "--output src/codecs/CodePageTables.cpp")
    emit("// Verify: python3 tools/gen_codepage_tables.py --check src/codecs/CodePageTables.cpp")
    emit("//")
    emit("// CodePageTable[id][byte] is the UTF-16 code unit of `byte` in the single-byte")
    emit("// character set `id` (0..59); 0xFFFF marks a byte without a mapping.")
    emit("")
    emit('#include "CharsetRegistry.h"')
    emit("")
    emit("namespace ordana {")
    emit("")
    emit("const std::uint16_t CodePageTable[kSingleByteCharsetCount][256] = {")
    for (charset_id, name, source, differences), table in zip(CODE_PAGES, tables):
        emit("    // %d: %s, %s" % (charset_id, name, source.describe()))
        if differences:
            emit("    //     with %s" % describe_differences(differences))
        emit("    {")
        for start in range(0, 256, 8):
            cells = ", ".join("0x%04X" % (NO_MAPPING_UNIT if value is NO_MAPPING else value)
                              for value in table[start:start + 8])
            emit("        /* 0x%02X */ %s," % (start, cells))
        emit("    },")
    emit("};")
    emit("")
    emit("}  // namespace ordana")
    return "\n".join(out) + "\n"


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--output", metavar="FILE", help="write the generated source to FILE")
    mode.add_argument("--check", metavar="FILE",
                      help="exit 1 if FILE differs from what would be generated")
    args = parser.parse_args(argv)

    try:
        text = render(build_tables())
    except GeneratorError as error:
        sys.stderr.write("gen_codepage_tables.py: %s\n" % error)
        return 2

    if args.check:
        try:
            with open(args.check, encoding="utf-8", newline="") as existing:
                current = existing.read()
        except OSError as error:
            sys.stderr.write("gen_codepage_tables.py: cannot read %s: %s\n" % (args.check, error))
            return 1
        if current != text:
            diff = list(difflib.unified_diff(current.splitlines(), text.splitlines(),
                                             args.check, "regenerated", lineterm="", n=1))
            sys.stderr.write("gen_codepage_tables.py: %s is out of date; regenerate with\n"
                             "  python3 tools/gen_codepage_tables.py --output %s\n"
                             % (args.check, args.check))
            sys.stderr.write("\n".join(diff[:40]) + "\n")
            if len(diff) > 40:
                sys.stderr.write("... (%d more diff lines)\n" % (len(diff) - 40))
            return 1
        return 0

    if args.output:
        temporary = args.output + ".tmp"
        with open(temporary, "w", encoding="utf-8", newline="\n") as target:
            target.write(text)
        os.replace(temporary, args.output)
    else:
        sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
