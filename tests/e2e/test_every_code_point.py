"""Every code point U+0000..U+10FFFF through the built program, from and to
UTF-8, UTF-16 and UTF-32 in both byte orders, strict and loose, against
Python's codecs.

One file per conversion holds all of them, so the whole test takes a few
seconds. Python's "surrogatepass" stands for what the loose policy keeps;
where the program differs from Python's codecs on purpose, the expectation
says so: the UTF-8 decoder counts U+FFFE and U+FFFF as errors, and UTF-16
passes unpaired surrogates on unchanged under both policies."""

import os
import re
import unittest

from ordana_run import ScratchTestCase, text

FORMS = {"utf-8": "utf-8", "utf-16": "utf-16-le", "utf-16be": "utf-16-be",
         "utf-32": "utf-32-le", "utf-32be": "utf-32-be"}

# Every scalar value, in order (no surrogates: UTF-16 would pair them).
SCALARS = "".join(chr(c) for c in range(0x110000) if not 0xD800 <= c <= 0xDFFF)
# Every surrogate alone, each followed by a full stop so that none pairs.
SURROGATES = "".join(chr(c) + "." for c in range(0xD800, 0xE000))
LONE = re.compile("[\ud800-\udfff]")


class EveryCodePointTest(ScratchTestCase):
    def convert(self, data, source, destination, *policy):
        self.write("in.bin", data)
        if os.path.exists(self.path("r.csv")):
            os.remove(self.path("r.csv"))
        code, out = self.run_ordana("in.bin", "out.bin", "/i", source, "/o", destination,
                                    "/nobom", "/csv", "r.csv", *policy)
        self.assertEqual(code, 0, text(out))
        body = self.read("r.csv")[2:].decode("utf-16-le")
        fields = body.split("\r\n")[-2].split("\t")
        return self.read("out.bin"), (int(fields[4]), int(fields[5]))

    def expect_same(self, got, expected, what):
        if got != expected:
            at = next(k for k in range(min(len(got), len(expected)) + 1)
                      if k == len(got) or k == len(expected) or got[k] != expected[k])
            self.fail("%s: first difference at byte %d: %r != %r"
                      % (what, at, got[at:at + 8], expected[at:at + 8]))

    def test_every_scalar_value_both_policies(self):
        for source, codec in FORMS.items():
            data = SCALARS.encode(codec)
            decoded = SCALARS
            errors = 0
            if source == "utf-8":
                # Noncharacters the UTF-8 decoder refuses.
                decoded = SCALARS.replace("\ufffe", "\ufffd").replace("\uffff", "\ufffd")
                errors = 2
            for destination, out_codec in FORMS.items():
                for policy in ("/policy=strict", "/policy=loose"):
                    what = "%s to %s, %s" % (source, destination, policy)
                    with self.subTest(what):
                        got, counts = self.convert(data, source, destination, policy)
                        self.expect_same(got, decoded.encode(out_codec), what)
                        self.assertEqual(counts, (errors, 0), what)

    def test_every_surrogate_loose_passes_as_python_surrogatepass(self):
        for source, codec in FORMS.items():
            data = SURROGATES.encode(codec, "surrogatepass")
            for destination, out_codec in FORMS.items():
                what = "%s to %s" % (source, destination)
                with self.subTest(what):
                    got, counts = self.convert(data, source, destination, "/policy=loose")
                    self.expect_same(got, SURROGATES.encode(out_codec, "surrogatepass"), what)
                    self.assertEqual(counts, (0, 0), what)

    def test_every_surrogate_strict_is_replaced_and_counted(self):
        for source, codec in FORMS.items():
            data = SURROGATES.encode(codec, "surrogatepass")
            if source.startswith("utf-16"):
                # UTF-16 hands them on; the encoder decides.
                decoded, decoder_errors = SURROGATES, 0
            else:
                # One U+FFFD per maximal subpart: three for each encoded
                # surrogate in UTF-8, one per unit in UTF-32.
                decoded = data.decode(codec, "replace")
                decoder_errors = decoded.count("\ufffd")
            for destination, out_codec in FORMS.items():
                what = "%s to %s" % (source, destination)
                with self.subTest(what):
                    got, counts = self.convert(data, source, destination, "/policy=strict")
                    if destination.startswith("utf-16"):
                        expected, encoder_errors = decoded, 0
                    else:
                        expected = LONE.sub("\ufffd", decoded)
                        encoder_errors = len(LONE.findall(decoded))
                    self.expect_same(got, expected.encode(out_codec, "surrogatepass"), what)
                    self.assertEqual(counts, (decoder_errors, encoder_errors), what)
        # Python agrees on the UTF-8 count: three replacements per surrogate.
        self.assertEqual(SURROGATES.encode("utf-8", "surrogatepass").decode("utf-8", "replace")
                         .count("\ufffd"), 3 * 2048)


if __name__ == "__main__":
    unittest.main()
