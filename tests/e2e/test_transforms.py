"""The text transforms through the built program: line ends, the XML
encoding declaration and HTML entities, on real files."""

import html.entities
import os
import re
import subprocess
import sys
import unittest

from ordana_run import ScratchTestCase, text

CHUNK = 2 * 1024 * 1024  # the size in which the program reads its inputs
SOURCE_DIR = os.environ.get("ORDANA_SOURCE_DIR",
                            os.path.join(os.path.dirname(__file__), "..", ".."))
UTF8 = ["/scs=utf-8", "/dcs=utf-8", "/nobom"]


class TransformTestCase(ScratchTestCase):
    def convert(self, data, *args, name="in.txt"):
        self.write(name, data)
        code, out = self.run_ordana(name, "out.txt", *args)
        self.assertEqual(code, 0, text(out))
        return self.read("out.txt")


class LineEndTest(TransformTestCase):
    def test_each_mode(self):
        source = "a\r\nb\rc\nd\u2028e\x85f\x0bg\x0ch".encode("utf-8")
        expected = {"dos": "a\r\nb\r\nc\r\nd\u2028e\x85f\x0bg\x0ch",
                    "unix": "a\nb\nc\nd\u2028e\x85f\x0bg\x0ch",
                    "mac": "a\rb\rc\rd\u2028e\x85f\x0bg\x0ch"}
        for mode, result in expected.items():
            for form in (["/eol=" + mode], ["/eol", mode], ["/EOL=" + mode.upper()]):
                with self.subTest(form=form):
                    self.assertEqual(self.convert(source, *UTF8, *form), result.encode("utf-8"))

    def test_other_values_mean_dos_and_the_last_option_wins(self):
        self.assertEqual(self.convert(b"a\nb", *UTF8, "/eol=other"), b"a\r\nb")
        self.assertEqual(self.convert(b"a\r\nb", *UTF8, "/eol=mac", "/eol=unix"), b"a\nb")

    def test_without_the_option_line_ends_stay(self):
        self.assertEqual(self.convert(b"a\r\nb\rc\nd", *UTF8), b"a\r\nb\rc\nd")

    def test_a_final_carriage_return_is_a_line_end(self):
        for mode, end in (("dos", b"\r\n"), ("unix", b"\n"), ("mac", b"\r")):
            with self.subTest(mode=mode):
                self.assertEqual(self.convert(b"one\rtwo\r", *UTF8, "/eol=" + mode),
                                 b"one" + end + b"two" + end)

    def test_in_utf16_and_through_a_single_byte_set(self):
        data = "é\r\nü\n".encode("utf-16-le")
        self.assertEqual(self.convert(data, "/scs=utf-16", "/dcs=utf-16", "/nobom", "/eol=mac"),
                         "é\rü\r".encode("utf-16-le"))
        self.assertEqual(self.convert("é\nü".encode("cp1252"), "/scs=cp1252", "/dcs=cp1252",
                                      "/eol=dos"), "é\r\nü".encode("cp1252"))

    def test_crlf_cut_by_the_chunk_end(self):
        # The CR is the last byte of the first 2 MiB chunk, the LF the first
        # byte of the second.
        body = b"x" * (CHUNK - 1) + b"\r\n" + b"y" * 1000 + b"\r\n"
        out = self.convert(body, *UTF8, "/eol=unix")
        self.assertEqual(out, b"x" * (CHUNK - 1) + b"\n" + b"y" * 1000 + b"\n")
        # The same in UTF-16: the CR unit ends the first chunk.
        units = "x" * (CHUNK // 2 - 1) + "\r\n" + "z"
        out = self.convert(units.encode("utf-16-le"), "/scs=utf-16", "/dcs=utf-16", "/nobom",
                           "/eol=mac")
        self.assertEqual(out, ("x" * (CHUNK // 2 - 1) + "\rz").encode("utf-16-le"))

    def test_more_than_four_mib_of_lone_line_feeds(self):
        # Twice as much comes out as goes in: 4.5 MiB of LF become 9 MiB of
        # CR LF, through buffers of 4 MiB.
        count = 4 * 1024 * 1024 + 512 * 1024
        out = self.convert(b"\n" * count, *UTF8, "/eol=dos")
        self.assertEqual(len(out), 2 * count)
        self.assertEqual(out, b"\r\n" * count)
        out = self.convert("\n".encode("utf-16-le") * count, "/scs=utf-16", "/dcs=utf-16",
                           "/nobom", "/eol=dos")
        self.assertEqual(out, "\r\n".encode("utf-16-le") * count)


XML = '<?xml version="1.0" encoding="ISO-8859-1"?>\n<a b="c">caf\xe9</a>'


class XmlDeclarationTest(TransformTestCase):
    def test_encoding_becomes_the_destination_name(self):
        cases = [("utf-8", "utf-8"), ("UTF8", "utf-8"), ("Utf-16be", "utf-16be"),
                 ("latin1", "latin1"), ("Windows-1252", "Windows-1252")]
        for destination, shown in cases:
            with self.subTest(destination=destination):
                out = self.convert(XML.encode("latin-1"), "/scs=iso-8859-1",
                                   "/dcs=" + destination, "/nobom", "/xml")
                codec = {"utf-8": "utf-8", "utf-16be": "utf-16-be"}.get(shown, "latin-1")
                self.assertEqual(out.decode(codec), XML.replace("ISO-8859-1", shown))

    def test_quote_white_space_and_case(self):
        source = "<?XML  version='1.0'\r\n\tEncoding = 'x' standalone='yes'?>\r\n<a  b='c'/>"
        out = self.convert(source.encode(), *UTF8, "/xml")
        self.assertEqual(out.decode(),
                         "<?XML version='1.0' Encoding ='utf-8' standalone='yes'?>\r\n<a  b='c'/>")

    def test_not_a_declaration(self):
        for source in ('<?xml-stylesheet href="a" encoding="x"?>', '<root encoding="x"/>',
                       "no markup at all"):
            with self.subTest(source=source):
                self.assertEqual(self.convert(source.encode(), *UTF8, "/xml"), source.encode())

    def test_final_closing_tag_without_newline_is_kept(self):
        source = b'<?xml version="1.0" encoding="x"?><a>t</a>'
        self.assertEqual(self.convert(source, *UTF8, "/xml"),
                         b'<?xml version="1.0" encoding="utf-8"?><a>t</a>')
        self.assertEqual(self.convert(b"<a>t</a>", *UTF8, "/xml"), b"<a>t</a>")

    def test_declaration_start_cut_by_the_chunk_end(self):
        # "<?x" ends the first 2 MiB chunk, "ml " starts the second.
        filler = b"x" * (CHUNK - 3)
        source = filler + b'<?xml version="1.0" encoding="ascii"?>\n<a/>'
        out = self.convert(source, *UTF8, "/xml")
        self.assertEqual(out, filler + b'<?xml version="1.0" encoding="utf-8"?>\n<a/>')

    def test_only_the_first_declaration_of_a_file_and_every_file(self):
        body = '<?xml encoding="a"?><?xml  encoding="b"?>'
        for name in ("one.xml", "two.xml"):
            self.write(name, body.encode())
        os.mkdir(self.path("out"))
        code, out = self.run_ordana("*.xml", "out", *UTF8, "/xml")
        self.assertEqual(code, 0, text(out))
        for name in ("one.xml", "two.xml"):
            self.assertEqual(self.read(os.path.join("out", name)).decode(),
                             '<?xml encoding="utf-8"?><?xml  encoding="b"?>')


def all_entities():
    """HTML 4.01's named references from Python, independent of the program."""
    entities = html.entities.name2codepoint
    assert len(entities) == 252
    return sorted(entities.items(), key=lambda item: item[1])


class HtmlEntityTest(TransformTestCase):
    def test_every_entity_is_encoded_by_its_name(self):
        entities = all_entities()
        source = " ".join(chr(cp) for _, cp in entities)
        out = self.convert(source.encode("utf-8"), *UTF8, "/htmlentity=enc").decode("ascii")
        self.assertEqual(out.split(" "), ["&%s;" % name for name, _ in entities])

    def test_every_name_is_decoded(self):
        entities = all_entities()
        source = " ".join("&%s;" % name for name, _ in entities)
        out = self.convert(source.encode(), *UTF8, "/htmlentity", "dec").decode("utf-8")
        self.assertEqual(out.split(" "), [chr(cp) for _, cp in entities])

    def test_encode_examples(self):
        source = "<p class=\"x\">Caf\u00e9 & \u20ac \u2111 it's \u2329\u27e8 \U0001F600 \u00a0</p>"
        out = self.convert(source.encode(), *UTF8, "/htmlentity=enc").decode("utf-8")
        self.assertEqual(out, "&lt;p class=&quot;x&quot;&gt;Caf&eacute; &amp; &euro; &image; "
                              "it's &lang;\u27e8 \U0001F600 &nbsp;&lt;/p&gt;")
        # With /xml the markup stays markup.
        out = self.convert(source.encode(), *UTF8, "/htmlentity=enc", "/xml").decode("utf-8")
        self.assertEqual(out, "<p class=\"x\">Caf&eacute; & &euro; &image; it's &lang;\u27e8 "
                              "\U0001F600 &nbsp;</p>")

    def test_encoding_makes_any_text_fit_a_small_character_set(self):
        source = "\u03b1\u03b2 \u20ac \u2665 \u00e9"
        out = self.convert(source.encode(), "/scs=utf-8", "/dcs=iso-8859-1", "/htmlentity=enc",
                           "/loglevel=2")
        self.assertEqual(out, b"&alpha;&beta; &euro; &hearts; &eacute;")

    def test_decode_examples(self):
        cases = [("&auml;&Auml;&AUML;", "\u00e4\u00c4&AUML;"), ("&amp;lt;", "&lt;"),
                 ("&;&nosuchname;", "&;&nosuchname;"), ("&#8364;&#x20AC;", "&#8364;&#x20AC;"),
                 ("&&amp;", "&&amp;"), ("&abcdefghijk;", "&abcdefghijk;"),
                 ("&nbsp x", "&nbsp x"), ("end &eac", "end &eac")]
        for source, result in cases:
            with self.subTest(source=source):
                out = self.convert(source.encode(), *UTF8, "/htmlentity=dec")
                self.assertEqual(out.decode("utf-8"), result)

    def test_reference_cut_by_the_chunk_end(self):
        # "&eac" ends the first 2 MiB chunk, "ute;" starts the second.
        filler = b"x" * (CHUNK - 4)
        out = self.convert(filler + b"&eacute; &amp;\n", *UTF8, "/htmlentity=dec")
        self.assertEqual(out, filler + "\u00e9 &\n".encode("utf-8"))
        # In UTF-16 as well, and encoding a file of the same size.
        units = "x" * (CHUNK // 2 - 3) + "&eacute;"
        out = self.convert(units.encode("utf-16-le"), "/scs=utf-16", "/dcs=utf-16", "/nobom",
                           "/htmlentity=dec")
        self.assertEqual(out, ("x" * (CHUNK // 2 - 3) + "\u00e9").encode("utf-16-le"))

    def test_large_tenfold_encoding(self):
        count = 600 * 1024
        out = self.convert("\u03d1".encode("utf-8") * count, *UTF8, "/htmlentity=enc")
        self.assertEqual(out, b"&thetasym;" * count)

    def test_html_option_changes_nothing(self):
        source = '<html><head><meta charset="iso-8859-1"></head><body>\u00e9</body></html>\n'
        plain = self.convert(source.encode("utf-8"), *UTF8)
        self.assertEqual(self.convert(source.encode("utf-8"), *UTF8, "/html"), plain)
        self.assertEqual(plain, source.encode("utf-8"))
        code, out = self.run_ordana("in.txt", "out.txt", *UTF8, "/html", "/loglevel=5")
        self.assertEqual(code, 0, text(out))
        filters = set(re.findall(r'Filter \(\d+ Bytes\) in "([^"]+)"', text(out)))
        self.assertEqual(filters, {"UTF-8 to UTF-16 conversion filter",
                                   "UTF-16 to UTF-8 conversion filter", "File Persistence Filter"})


class ChainTest(TransformTestCase):
    def test_transforms_come_in_a_fixed_order(self):
        self.write("a.txt", "a\nb".encode("utf-16-be"))
        names = []
        for args in (["/htmlentity=enc", "/xml", "/eol=unix"],
                     ["/eol=unix", "/xml", "/htmlentity=enc"]):
            code, out = self.run_ordana("a.txt", "b.txt", "/scs=utf-16be", "/dcs=cp1252",
                                        "/loglevel=5", *args)
            self.assertEqual(code, 0, text(out))
            order = []
            for name in re.findall(r'Filter \(\d+ Bytes\) in "([^"]+)"', text(out)):
                if name not in order:
                    order.append(name)
            names.append(order)
        self.assertEqual(names[0], names[1])
        self.assertEqual(names[0], ["UTF-16 Input Filter", "Line Transform Filter",
                                    "XML Processing Instruction Modification Filter",
                                    "HTML Entity Encode Filter",
                                    "UTF-16 to single character conversion filter",
                                    "File Persistence Filter"])

    def test_decoder_after_the_declaration_filter(self):
        self.write("a.txt", b'<?xml encoding="x"?>&lt;a&gt;')
        code, out = self.run_ordana("a.txt", "b.txt", *UTF8, "/htmlentity=dec", "/xml",
                                    "/loglevel=5")
        self.assertEqual(code, 0, text(out))
        self.assertEqual(self.read("b.txt"), b'<?xml encoding="utf-8"?><a>')
        log = text(out)
        self.assertLess(log.index('in "XML Processing Instruction Modification Filter"'),
                        log.index('in "HTML Entity Decode Filter"'))

    def test_all_transforms_together(self):
        source = '<?xml version="1.0" encoding="utf-8"?>\r\n<p>\u00e9 &amp; \u20ac</p>\r'
        out = self.convert(source.encode(), "/scs=utf-8", "/dcs=latin1", "/eol=unix", "/xml",
                           "/htmlentity=enc")
        # With /xml the markup, '&' among it, is kept.
        self.assertEqual(out, b'<?xml version="1.0" encoding="latin1"?>\n'
                              b'<p>&eacute; &amp; &euro;</p>\n')

    def test_automatic_detection_in_front(self):
        source = "\ufeffl\u00e9\r\nx".encode("utf-16-le")
        self.write("in.txt", source)
        code, out = self.run_ordana("in.txt", "out.txt", "/dcs=utf-8", "/nobom", "/eol=unix",
                                    "/htmlentity=enc")
        self.assertEqual(code, 0, text(out))
        self.assertEqual(self.read("out.txt"), b"l&eacute;\nx")


class EntityTableGeneratorTest(unittest.TestCase):
    def test_table_is_what_the_generator_writes(self):
        generator = os.path.join(SOURCE_DIR, "tools", "gen_entity_tables.py")
        table = os.path.join(SOURCE_DIR, "src", "transforms", "HtmlEntityTables.cpp")
        proc = subprocess.run([sys.executable, generator, "--check", table],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(proc.returncode, 0, proc.stdout.decode() + proc.stderr.decode())


if __name__ == "__main__":
    unittest.main()
