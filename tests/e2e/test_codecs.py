"""Conversions between the encodings, whole files through the program."""

import os
import unittest

from ordana_run import ScratchTestCase, nl, text

SAMPLE = "Grüße, Ελληνικά, Кириллица, 中文, \U0001F600 – “quoted” €\n"


class CodecTest(ScratchTestCase):
    def convert(self, data, *args):
        self.write("in.bin", data)
        code, out = self.run_ordana("in.bin", "out.bin", *args)
        self.assertEqual(code, 0, text(out))
        return self.read("out.bin"), text(out)

    def test_unicode_forms_round_trip(self):
        forms = {"utf-8": "utf-8", "utf-16": "utf-16-le", "utf-16be": "utf-16-be",
                 "utf-32": "utf-32-le", "utf-32be": "utf-32-be"}
        for source, source_codec in forms.items():
            for dest, dest_codec in forms.items():
                with self.subTest(source=source, dest=dest):
                    out, _ = self.convert(SAMPLE.encode(source_codec), "/i", source, "/o", dest,
                                          "/nobom")
                    self.assertEqual(out, SAMPLE.encode(dest_codec))

    def test_byte_order_marks_per_destination(self):
        marks = {"utf-8": b"\xef\xbb\xbf", "utf-16": b"\xff\xfe", "utf-16be": b"\xfe\xff",
                 "utf-32": b"\xff\xfe\x00\x00", "utf-32be": b"\x00\x00\xfe\xff"}
        for dest, mark in marks.items():
            with self.subTest(dest=dest):
                out, _ = self.convert(b"A", "/i", "utf-8", "/o", dest)
                self.assertTrue(out.startswith(mark), out)

    def test_single_byte_sets(self):
        text_1252 = "Café “déjà vu” – 5 €"
        out, _ = self.convert(text_1252.encode("cp1252"), "/i", "windows-1252", "/o", "utf-8",
                              "/nobom")
        self.assertEqual(out, text_1252.encode("utf-8"))
        out, _ = self.convert(text_1252.encode("utf-8"), "/i", "utf-8", "/o", "cp1252")
        self.assertEqual(out, text_1252.encode("cp1252"))
        out, _ = self.convert("Привет".encode("koi8-r"), "/i", "koi8-r", "/o", "iso-8859-5")
        self.assertEqual(out, "Привет".encode("iso8859-5"))

    def test_loose_round_trip_keeps_undefined_bytes(self):
        data = bytes([0x41, 0x81, 0x8D, 0x8F, 0x90, 0x9D, 0x42])
        out, log = self.convert(data, "/i", "windows-1252", "/o", "windows-1252", "/policy=loose",
                                "/loglevel=2")
        self.assertEqual(out, data)
        self.assertIn(nl("SCS (18): Decoding of 0x81 at 1 not possible, replaced by U+dc81\r\n"), log)
        self.assertIn(nl("DSC(18): Encoding of replacement character U+dc81 at 2 become 0x81.\r\n"), log)
        self.assertIn(nl("SCS(18): Decoding errors: 0\r\n"), log)

    def test_strict_messages_and_totals(self):
        data = b"ab\xc3\x41cd"
        out, log = self.convert(data, "/i", "utf-8", "/o", "utf-16", "/nobom", "/loglevel=2")
        self.assertEqual(out, "ab\ufffdAcd".encode("utf-16-le"))
        self.assertIn(nl("UTF-8: Malformed 2 Byte sequence c3 41\r\n"), log)
        self.assertIn(nl("UTF-8 (STRICT): Malformed byte sequence at 2 were replaced with replacement "
                         "character fffd\r\n"), log)
        self.assertIn(nl("UTF-8: Decoding errors: 1\r\n"), log)
        out, log = self.convert("€".encode("utf-8"), "/i", "utf-8", "/o", "iso-8859-1", "/loglevel=2")
        self.assertEqual(out, b"\xff")
        self.assertIn(nl("DCS(0): Encoding errors: 1\r\n"), log)

    def test_large_file_with_sequences_across_chunk_ends(self):
        # Three-byte characters put sequence boundaries at every offset modulo
        # three, so some sequence straddles each 2 MiB chunk end.
        body = ("x€yé" * 700000)
        out, log = self.convert(body.encode("utf-8"), "/i", "utf-8", "/o", "utf-16", "/nobom",
                                "/loglevel=2")
        self.assertEqual(out, body.encode("utf-16-le"))
        self.assertIn(nl("UTF-8: Decoding errors: 0\r\n"), log)


if __name__ == "__main__":
    unittest.main()
