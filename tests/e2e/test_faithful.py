"""Every byte accounted for, through the built program: malformed and cut-off
input is replaced and counted wherever it stands, nothing valid after it is
lost, the policy reaches every codec, and one input never changes the next.

Each case asserts the exact output bytes and the error counts of the CSV
report (decoder, encoder)."""

import os
import unittest

from ordana_run import ScratchTestCase, nl, text

FFFD8 = "\ufffd".encode("utf-8")


class FaithfulTestCase(ScratchTestCase):
    def convert(self, data, *args):
        """Converts `data` from in.bin into out.bin; returns the output bytes,
        the (decoder, encoder) error counts and the messages."""
        self.write("in.bin", data)
        if os.path.exists(self.path("r.csv")):
            os.remove(self.path("r.csv"))
        code, out = self.run_ordana("in.bin", "out.bin", "/nobom", "/loglevel=2",
                                    "/csv", "r.csv", *args)
        self.assertEqual(code, 0, text(out))
        return self.read("out.bin"), self.errors("r.csv"), text(out)

    def errors(self, name):
        body = self.read(name)[2:].decode("utf-16-le")
        fields = body.split("\r\n")[-2].split("\t")
        return int(fields[4]), int(fields[5])

    def check(self, data, args, output, errors):
        got, counts, out = self.convert(data, *args)
        self.assertEqual(got, output, out)
        self.assertEqual(counts, errors, out)
        return out


UTF8 = ["/i", "utf-8", "/o", "utf-8"]


class Utf8DecoderTest(FaithfulTestCase):
    def test_valid_text_at_the_end_is_kept(self):
        # Latin-1 read as UTF-8: the e acute is one error, the newline stays.
        out = self.check(b"Bonjour\nMerci, caf\xe9\n", UTF8,
                         b"Bonjour\nMerci, caf" + FFFD8 + b"\n", (1, 0))
        self.assertIn(nl("UTF-8: Decoding errors: 1\r\n"), out)
        self.assertIn("Malformed byte sequence at 18 were replaced", out)
        # A lead byte near the end swallows nothing after it.
        self.check(b"abc\xfcABCD", UTF8, b"abc" + FFFD8 + b"ABCD", (1, 0))
        self.check(b"abc\xe2A", UTF8, b"abc" + FFFD8 + b"A", (1, 0))
        # A sequence cut off by the end is one replacement.
        out = self.check(b"abc\xf0\x9f\x98", UTF8, b"abc" + FFFD8, (1, 0))
        self.assertIn(nl("UTF-8: The input ends inside a 4 byte sequence that starts at 3\r\n"), out)

    def test_no_invented_characters(self):
        cases = [
            (b"A\x80B", "A\ufffdB", 1),
            (b"A\xc3\xc3\xa9B", "A\ufffd\u00e9B", 1),
            (b"\xe2\x82\xe2\x82\xac", "\ufffd\u20ac", 1),
            (b"\xfe\xffA", "\ufffd\ufffdA", 2),
        ]
        for data, expected, count in cases:
            with self.subTest(data=data):
                self.check(data, UTF8, expected.encode("utf-8"), (count, 0))

    def test_overlong_and_out_of_range_forms_are_refused(self):
        # One replacement per maximal subpart, as Python's decoder gives.
        cases = [b"\xc0\xaf", b"\xc0\x80", b"\xe0\x80\xaf", b"\xf0\x80\x80\xaf",
                 b"\xf8\x88\x80\x80\x80", b"\xfc\x84\x80\x80\x80\x80", b"\xf4\x90\x80\x80",
                 b"\xed\xa0\x80", b"\xed\xbf\xbf"]
        for data in cases:
            with self.subTest(data=data):
                expected = data.decode("utf-8", "replace")
                self.assertNotIn("/", expected)
                self.check(b"x" + data + b"y", UTF8, ("x" + expected + "y").encode("utf-8"),
                           (expected.count("\ufffd"), 0))


class EndOfInputTest(FaithfulTestCase):
    def test_a_lone_high_surrogate_at_the_end(self):
        self.check(b"A\x00\x00\xd8", ["/i", "utf-16", "/o", "utf-8"], b"A" + FFFD8, (0, 1))
        self.check(b"A\x00\x00\xd8A\x00", ["/i", "utf-16", "/o", "utf-8"], b"A" + FFFD8 + b"A",
                   (0, 1))
        self.check(b"A\x00\x00\xd8", ["/i", "utf-16", "/o", "utf-32"],
                   b"A\x00\x00\x00\xfd\xff\x00\x00", (0, 1))
        # Loose: the surrogate is written, as in mid-file.
        self.check(b"A\x00\x00\xd8", ["/i", "utf-16", "/o", "utf-8", "/policy=loose"],
                   b"A\xed\xa0\x80", (0, 0))
        self.check(b"A\x00\x00\xd8", ["/i", "utf-16", "/o", "utf-32be", "/policy=loose"],
                   b"\x00\x00\x00A\x00\x00\xd8\x00", (0, 0))

    def test_odd_utf16_byte(self):
        out = self.check(b"A\x00B", ["/i", "utf-16", "/o", "utf-8"], b"A" + FFFD8, (1, 0))
        self.assertIn("UTF-16: The last byte 42 at 2 is half a code unit", out)
        self.check(b"\x00AB", ["/i", "utf-16be", "/o", "utf-16"], b"A\x00\xfd\xff", (1, 0))
        self.check(b"A\x00B", ["/i", "utf-16", "/o", "utf-16"], b"A\x00\xfd\xff", (1, 0))

    def test_utf32_trailing_bytes_and_values_beyond_the_range(self):
        for tail in (b"\x01", b"\x01\x02", b"\x01\x02\x03"):
            with self.subTest(tail=tail):
                self.check(b"A\x00\x00\x00" + tail, ["/i", "utf-32", "/o", "utf-8"],
                           b"A" + FFFD8, (1, 0))
        self.check(b"\x00\x00\x11\x00A\x00\x00\x00", ["/i", "utf-32", "/o", "utf-8"],
                   FFFD8 + b"A", (1, 0))
        self.check(b"\x00\xd8\x00\x00", ["/i", "utf-32", "/o", "utf-16"], b"\xfd\xff", (1, 0))
        self.check(b"\x00\xd8\x00\x00", ["/i", "utf-32", "/o", "utf-16", "/policy=loose"],
                   b"\x00\xd8", (0, 0))


class OneInputAtATimeTest(FaithfulTestCase):
    def run_pair(self, first, second, *args, tag=""):
        """Converts two files of one directory in one run; returns both
        outputs."""
        source, target = "d" + tag, "out" + tag
        os.mkdir(self.path(source))
        os.mkdir(self.path(target))
        for name, data in (("1.txt", first), ("2.txt", second)):
            with open(self.path(source, name), "wb") as f:
                f.write(data)
        code, out = self.run_ordana(os.path.join(source, "?.txt"), target, "/nobom", *args)
        self.assertEqual(code, 0, text(out))
        return self.read(os.path.join(target, "1.txt")), self.read(os.path.join(target, "2.txt"))

    def test_an_open_xml_declaration_ends_with_its_file(self):
        declared = (b'<?xml version="1.0"  encoding="ISO-8859-1"?>\r\n<a>\r\n</a>',
                    b'<?xml version="1.0" encoding="utf-8"?>\r\n<a>\r\n</a>')
        plain = (b"line one\r\n  line two\r\n<a>b</a>",) * 2
        cases = [(b'<?xml version="1.0"', declared), (b'<?xml version="1.0" encoding="', declared),
                 (b"<?xml ", declared), (b'<?xml version="1.0"', plain),
                 (b'<?xml version="1.0" encoding="', plain)]
        for k, (first, (second, expected)) in enumerate(cases):
            with self.subTest(first=first, second=second):
                one, two = self.run_pair(first, second, *UTF8, "/xml", tag=str(k))
                self.assertEqual(two, expected)

    def test_a_cut_sequence_stays_in_its_file(self):
        one, two = self.run_pair(b"a\xe2\x82", b"\xac b", *UTF8)
        self.assertEqual(one, b"a" + FFFD8)
        self.assertEqual(two, FFFD8 + b" b")


class PolicyReachesEveryCodecTest(FaithfulTestCase):
    def test_loose_single_byte_round_trip_is_unchanged(self):
        self.check(b"a\x81b", ["/i", "windows-1252", "/o", "windows-1252", "/policy=loose"],
                   b"a\x81b", (0, 0))
        # Strict: the byte becomes U+FFFF (counted), which no set encodes.
        self.check(b"a\x81b", ["/i", "windows-1252", "/o", "windows-1252"], b"a\xffb", (1, 1))

    def test_detected_utf8_takes_the_policy(self):
        data = "äöü ".encode("utf-8") * 4 + b"\xed\xa0\x80"
        got, counts, _ = self.convert(data, "/o", "utf-16", "/policy=loose")
        self.assertEqual(got, ("äöü " * 4 + "\ud800").encode("utf-16-le", "surrogatepass"))
        self.assertEqual(counts, (0, 0))
        got, counts, _ = self.convert(data, "/o", "utf-16")
        self.assertEqual(got, ("äöü " * 4 + "\ufffd" * 3).encode("utf-16-le"))
        self.assertEqual(counts, (3, 0))


if __name__ == "__main__":
    unittest.main()
