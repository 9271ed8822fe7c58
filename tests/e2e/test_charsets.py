"""Character set names, the listings, the chain assembly and UTF-16 files."""

import os
import resource
import subprocess
import sys
import threading
import unittest

# Listing lines end the way text files do on the system (NL), so scripts can
# read the names back as they are.
from ordana_run import NL, ON_WINDOWS, ORDANA, PREFIX, ScratchTestCase, nl, posix_only, text

UNICODE_BLOCK = ["UTF-16", "UTF-16BE", "UTF-8", "UTF-32", "UTF-32BE"]


class ListingTest(ScratchTestCase):
    def test_listall(self):
        code, out = self.run_ordana("/listall", "a.txt")
        self.assertEqual(code, 0)
        out = text(out)
        self.assertTrue(out.endswith(NL + NL))
        names = out.split(NL)[:-2]
        self.assertEqual(len(names), 192)
        self.assertEqual(names[:9], UNICODE_BLOCK + ["ISO-8859-1", "ISO 8859-1", "Latin-1", "Latin1"])
        self.assertEqual(names.count("CP874"), 2)
        self.assertFalse(os.path.exists(self.path("a.txt")))

    def test_listallcsv(self):
        code, out = self.run_ordana("/LISTALLCSV")
        self.assertEqual(code, 0)
        lines = text(out).split(NL)
        self.assertEqual(lines[-2:], ["", ""])
        lines = lines[:-2]
        self.assertEqual(lines[:5], UNICODE_BLOCK)
        rows = [l.split("\t") for l in lines[5:]]
        self.assertEqual(len(rows), 60)
        self.assertTrue(all(len(r) == 2 and r[1] for r in rows))
        self.assertEqual(rows[0], ["ISO-8859-1", "Latin-1, West European"])
        self.assertIn(["Windows-1252", rows[18][1]], rows)

    def test_options_before_a_listing_apply(self):
        code, out = self.run_ordana("/log", "/listall", "/nonsense")
        self.assertEqual(code, 0)
        self.assertTrue(os.path.exists(self.path("ordana.log")))
        if ON_WINDOWS:
            # The log takes the standard output's place, listing included.
            self.assertEqual(out, b"")
            self.assertIn("Latin1" + NL, self.read_log())
        else:
            # A listing is what the user asked to see: the standard output.
            self.assertIn("Latin1" + NL, text(out))


class AssemblyTest(ScratchTestCase):
    def test_character_set_line_shows_canonical_unicode_names(self):
        self.write("a.txt", b"a\x00")
        cases = [(["/scs=UTF16", "/dcs=Utf 16BE"], "utf-16 => utf-16be"),
                 (["/i", "utf16be", "/o", "UTF-16"], "utf-16be => utf-16")]
        for args, line in cases:
            with self.subTest(args=args):
                code, out = self.run_ordana("a.txt", "b.txt", *args)
                self.assertEqual(code, 0)
                self.assertTrue(text(out).startswith("Character set: " + line + NL))

    def test_registry_names_are_shown_as_typed(self):
        code, out = self.run_ordana("a.txt", "b.txt", "/scs=latin1", "/dcs=UTF8")
        self.assertTrue(text(out).startswith(nl("Character set: latin1 => utf-8\r\n")), out)

    def test_auto_destination_is_refused_before_any_output(self):
        self.write("a.txt", b"a\x00")
        code, out = self.run_ordana("a.txt", "b.txt", "/scs=utf-16", "/dcs=auto")
        self.assertEqual(code, 2)
        self.assertIn(nl("Unknown destination character set 1000\r\n"), text(out))
        self.assertNotIn("processed", text(out))
        self.assertFalse(os.path.exists(self.path("b.txt")))

    @unittest.skipIf(os.environ.get("ORDANA_SANITIZED") == "ON", "sanitizers need all the address space")
    @posix_only("an address-space limit (RLIMIT_AS); Wine itself does not start under one")
    def test_out_of_memory_while_assembling(self):
        self.write("a.txt", b"a\x00")

        def limit():
            # Enough to start, not enough for the filters' buffers.
            resource.setrlimit(resource.RLIMIT_AS, (24 << 20, 24 << 20))

        proc = subprocess.run(PREFIX + [ORDANA, "a.txt", "b.txt", "/scs=utf-16"], cwd=self.dir,
                              preexec_fn=limit, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(proc.returncode, 8, proc.stderr)
        self.assertIn(nl("Memory allocation error in wmain:660\r\n"), text(proc.stderr + proc.stdout))


def units(text_, big):
    return text_.encode("utf-16-be" if big else "utf-16-le")


BOM = {False: b"\xff\xfe", True: b"\xfe\xff"}


class Utf16FilesTest(ScratchTestCase):
    SAMPLE = "A\n\u00e9\u20ac\U0001F600 text"

    def test_all_byte_order_combinations(self):
        for in_big in (False, True):
            for out_big in (False, True):
                for source_bom in (False, True):
                    for nobom in (False, True):
                        with self.subTest(in_big=in_big, out_big=out_big, source_bom=source_bom, nobom=nobom):
                            source = (BOM[in_big] if source_bom else b"") + units(self.SAMPLE, in_big)
                            self.write("in.txt", source)
                            args = ["in.txt", "out.txt", "/scs=" + ("utf-16be" if in_big else "utf-16"),
                                    "/dcs=" + ("utf-16be" if out_big else "utf-16")]
                            if nobom:
                                args.append("/nobom")
                            code, _ = self.run_ordana(*args)
                            self.assertEqual(code, 0)
                            expected = (b"" if nobom else BOM[out_big]) + units(self.SAMPLE, out_big)
                            self.assertEqual(self.read("out.txt"), expected)

    def test_empty_file_gets_no_byte_order_mark(self):
        self.write("in.txt", b"")
        code, _ = self.run_ordana("in.txt", "out.txt", "/scs=utf-16be", "/dcs=utf-16")
        self.assertEqual(code, 0)
        self.assertEqual(self.read("out.txt"), b"")

    def big_text(self):
        # More than two chunks of text with characters from several planes.
        piece = "".join(chr(c) for c in range(0x20, 0xD7FF, 37)) + "\U00010348\n"
        return piece * (5 * 1024 * 1024 // (2 * len(piece)) + 1)

    def test_files_larger_than_a_chunk(self):
        body = self.big_text()
        self.write("in.txt", BOM[True] + units(body, True))
        code, _ = self.run_ordana("in.txt", "out.txt", "/scs=utf-16be")
        self.assertEqual(code, 0)
        self.assertEqual(self.read("out.txt"), BOM[False] + units(body, False))
        code, _ = self.run_ordana("out.txt", "back.txt", "/scs=utf-16", "/dcs=utf-16be")
        self.assertEqual(self.read("back.txt"), BOM[True] + units(body, True))

    def test_code_units_split_across_reads_from_a_pipe(self):
        # Pipe reads end wherever the writer paused, often inside a code unit.
        body = self.big_text()
        data = units(body, True)
        proc = subprocess.Popen(PREFIX + [ORDANA, "\\\\.\\CONIN$", "out.txt", "/scs=utf-16be"],
                                cwd=self.dir, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

        def feed():
            for start in range(0, len(data), 65537):
                proc.stdin.write(data[start:start + 65537])
                proc.stdin.flush()
            proc.stdin.close()

        writer = threading.Thread(target=feed)
        writer.start()
        writer.join()
        self.assertEqual(proc.wait(timeout=120), 0)
        self.assertEqual(self.read("out.txt"), BOM[False] + units(body, False))


if __name__ == "__main__":
    unittest.main()
