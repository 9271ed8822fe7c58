"""Automatic detection of the source character set."""

import os
import shutil
import stat
import struct
import subprocess
import threading
import time
import unittest

from ordana_run import NL, ORDANA, PREFIX, ScratchTestCase, msg, nl, posix_only, shown, text


class DetectionTest(ScratchTestCase):
    def setUp(self):
        super().setUp()
        # A copy of the program in a directory of its own: the statistics
        # files it sees are the ones a test puts there.
        self.bindir = self.path("bin")
        os.mkdir(self.bindir)
        self.program = os.path.join(self.bindir, os.path.basename(ORDANA))
        shutil.copy2(ORDANA, self.program)

    def _run(self, extra, program=None):
        proc = subprocess.run(PREFIX + [program or self.program, "in.bin", "out.bin", "/o",
                              "utf-16", "/nobom", "/loglevel=2"] + list(extra),
                              cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              stdin=subprocess.DEVNULL, timeout=60)
        return proc.returncode, msg(proc.stdout, proc.stderr)

    def with_shipped_files(self):
        """A second copy of the program with the statistics files that the
        build puts next to it."""
        bindir = self.path("shipped")
        os.mkdir(bindir)
        program = os.path.join(bindir, os.path.basename(ORDANA))
        shutil.copy2(ORDANA, program)
        shipped = [n for n in os.listdir(os.path.dirname(ORDANA)) if n.endswith(".dat")]
        self.assertGreaterEqual(len(shipped), 20)
        for name in shipped:
            shutil.copy2(os.path.join(os.path.dirname(ORDANA), name), bindir)
        return program

    def check(self, data, message, decoded, *extra, program=None):
        self.write("in.bin", data)
        code, out = self._run(extra, program)
        self.assertEqual(code, 0, out)
        self.assertIn(message, out)
        self.assertEqual(self.read("out.bin"), decoded.encode("utf-16-le"))
        return out

    def test_every_path(self):
        cases = [
            (b"\xfe\xff\x00A", "Detected SCS with BOM: UTF-16BE\r\n", "A"),
            (b"\xff\xfeA\x00", "Detected SCS with BOM: UTF-16\r\n", "A"),
            (b"\xff\xfe\x00\x00A\x00\x00\x00", "Detected SCS with BOM: UTF-32\r\n", "A"),
            (b"\xff\xfe\x00\x00", "Detected SCS with BOM: UTF-16\r\n", "\x00"),
            (b"A\x00B\x00", "Detected SCS: UTF-16\r\n", "AB"),
            (b"\x00A\x00B", "Detected SCS: UTF-16BE\r\n", "AB"),
            (b"\xef\xbb\xbfA", "Detected SCS with BOM: UTF-8\r\n", "A"),
            (b"\xc3\xa4\xc3\xb6", "Detected SCS: UTF-8 (Analyzed 2 Bytes)\r\n", "äö"),
            (b"\xc3A\xc3\xa4\xc3\xb6", "Detected SCS: UTF-8 (Analyzed 4 Bytes)\r\n", "\ufffdAäö"),
            (b"\x00\x00\xfe\xff\x00\x00\x00A", "Detected SCS with BOM: UTF-32BE\r\n", "A"),
            (b"A\x00\x00\x00B\x00\x00\x00", "Detected SCS: UTF-32\r\n", "AB"),
            (b"\x00\x00\x00A\x00\x00\x00B", "Detected SCS: UTF-32BE\r\n", "AB"),
            (b"plain ascii", "Detected character set (fallback) ISO-8859-15\r\n", "plain ascii"),
            # One well-formed two-byte sequence is UTF-8 (it took two before).
            (b"\xc3\xa4", "Detected SCS: UTF-8 (Analyzed 2 Bytes)\r\n", "ä"),
            (b"caf\xc3\xa9\n", "Detected SCS: UTF-8 (Analyzed 6 Bytes)\r\n", "café\n"),
            (b"\xc3\xa4\xc3", "Detected SCS: UTF-8 (Analyzed 3 Bytes)\r\n", "ä\ufffd"),
            (b"\xc0\xaf ab", "Detected character set (fallback) ISO-8859-15\r\n", "À¯ ab"),
            (b"\xed\xa0\x80 ab", "Detected character set (fallback) ISO-8859-15\r\n",
             "í\xa0\x80 ab"),
            (b"\xfe\xff", "Detected character set (fallback) ISO-8859-15\r\n", "þÿ"),
            (b"caf\xe9 \xa4", "Detected character set (fallback) ISO-8859-15\r\n", "café €"),
        ]
        for data, message, decoded in cases:
            with self.subTest(data=data):
                out = self.check(data, nl(message), decoded)
                self.assertIn(nl("Found 0 stat files\r\n"), out)
                self.assertIn(nl("Removed Last Filter \"NUL Filter\"\r\n"), out)

    def test_detected_decoder_takes_the_policy(self):
        # Strict: the encoded surrogate is replaced and counted, one U+FFFD
        # per byte (ED cannot be followed by A0).
        out = self.check(b"\xc3\xa4\xc3\xb6\xed\xa0\x80", "Detected SCS: UTF-8",
                         "äö\ufffd\ufffd\ufffd")
        self.assertIn(nl("UTF-8: Decoding errors: 3\r\n"), out)
        # Loose: it passes with a warning, as with /i utf-8.
        self.write("in.bin", b"\xc3\xa4\xc3\xb6\xed\xa0\x80")
        code, out = self._run(["/policy=loose"])
        self.assertEqual(code, 0, out)
        self.assertIn("Detected SCS: UTF-8", out)
        self.assertIn("UTF-8 (LOOSE): Malformed surrogate U+d800", out)
        self.assertIn(nl("UTF-8: Decoding errors: 0\r\n"), out)
        self.assertEqual(self.read("out.bin"), "äö\ud800".encode("utf-16-le", "surrogatepass"))
        # A statistics winner takes it as well: under the loose policy an
        # undefined byte travels as U+DC00 + byte (Windows-1252 leaves 0x81
        # undefined), under the strict one it becomes U+FFFF and counts.
        stat = (b"STAT" + b"FRA\x00" + struct.pack("<II", 18, 0) + b"STBL"
                + struct.pack("<II", 0, 1) + struct.pack("<Id", 0xE9, 5.0)
                + b"STBL" + struct.pack("<II", 0, 0) + b"STBL" + struct.pack("<II", 0, 0))
        with open(os.path.join(self.bindir, "fr.dat"), "wb") as f:
            f.write(stat)
        data = b"caf\xe9 \x81 cr\xe8me"
        out = self.check(data, "Detected SCS Windows-1252 (FRA)", "café \uffff crème")
        self.assertIn(nl("SCS(18): Decoding errors: 1\r\n"), out)
        self.write("in.bin", data)
        code, out = self._run(["/policy=loose"])
        self.assertIn(nl("SCS(18): Decoding errors: 0\r\n"), out)
        self.assertEqual(self.read("out.bin"), "café \udc81 crème".encode("utf-16-le", "surrogatepass"))

    def test_statistics_file_decides(self):
        # One crafted file that likes "é" in Windows-1252.
        def block(entries):
            data = b"STBL" + struct.pack("<II", 0, len(entries))
            for key, weight in entries:
                data += struct.pack("<Id", key, weight)
            return data
        stat = b"STAT" + b"FRA\x00" + struct.pack("<II", 18, 0) + block([(0xE9, 5.0)]) + block([]) + block([])
        with open(os.path.join(self.bindir, "fr.dat"), "wb") as f:
            f.write(stat)
        with open(os.path.join(self.bindir, "junk.dat"), "wb") as f:
            f.write(b"NOPE")
        os.mkdir(os.path.join(self.bindir, "dir.dat"))
        out = self.check("café crème".encode("cp1252"), nl("Detected SCS Windows-1252 (FRA)\r\n"),
                         "café crème")
        self.assertIn(nl("Found 1 stat files\r\n"), out)

    def test_short_texts_decode_as_without_the_statistics_files(self):
        shipped = self.with_shipped_files()
        texts = ["Café", "Café\n", "Straße", "naïve", "garçon", "Größe", "Zürich", "Ærø",
                 "Malmö", "Crème brûlée", "São Paulo", "façade", "plain ASCII text", "x",
                 "Grüße aus Köln", "Déjà vu"]
        for value in texts:
            with self.subTest(text=value):
                self.write("in.bin", value.encode("latin-1"))
                outputs = []
                for program in (shipped, self.program):
                    code, out = self._run([], program)
                    self.assertEqual(code, 0, out)
                    outputs.append(self.read("out.bin"))
                self.assertEqual(outputs[0], value.encode("utf-16-le"))
                self.assertEqual(outputs[1], value.encode("utf-16-le"))

    def test_shipped_files_still_decide_where_the_text_tells(self):
        shipped = self.with_shipped_files()
        cases = [
            ("Привет, как дела? Хорошо.", "cp1251", nl("Detected SCS Windows-1251 (CYRL)\r\n")),
            ("Καλημέρα σας, τι κάνετε;", "cp1253", nl("Detected SCS Windows-1253 (GREK)\r\n")),
            ("Příliš žluťoučký kůň úpěl ďábelské ódy.", "cp1250",
             nl("Detected SCS Windows-1250 (CEUR)\r\n")),
        ]
        for value, codec, message in cases:
            with self.subTest(codec=codec):
                self.check(value.encode(codec), message, value, program=shipped)

    def test_unicode_without_a_byte_order_mark_in_any_script(self):
        shipped = self.with_shipped_files()
        cyrillic = "Привет, как дела? Всё хорошо, спасибо.\nДо свидания!\n"
        cases = [
            (cyrillic.encode("utf-16-le"), nl("Detected SCS: UTF-16\r\n"), cyrillic),
            (cyrillic.encode("utf-16-be"), nl("Detected SCS: UTF-16BE\r\n"), cyrillic),
            ("Καλημέρα σας, τι κάνετε;\n".encode("utf-16-le"), nl("Detected SCS: UTF-16\r\n"),
             "Καλημέρα σας, τι κάνετε;\n"),
            ("我能吞下玻璃而不伤身体。\n天地玄黄，宇宙洪荒。\n".encode("utf-16-be"),
             nl("Detected SCS: UTF-16BE\r\n"), "我能吞下玻璃而不伤身体。\n天地玄黄，宇宙洪荒。\n"),
            ("😀 Привет мир, 我能吞下玻璃\n".encode("utf-32-le"), nl("Detected SCS: UTF-32\r\n"),
             "😀 Привет мир, 我能吞下玻璃\n"),
        ]
        for data, message, decoded in cases:
            with self.subTest(message=message, decoded=decoded[:8]):
                self.check(data, message, decoded, program=shipped)

    def test_single_byte_families_with_the_shipped_files(self):
        shipped = self.with_shipped_files()
        cases = [
            # Curly quotes, a dash and the euro: C1 controls in ISO-8859-15,
            # whose statistics file scores such text close to Windows-1252.
            ("“Très bien”, dit-il – c’est 20 € pour le café… « Voilà ! »\n", "cp1252",
             nl("Detected SCS Windows-1252 (WEUR)\r\n")),
            ("Türkçe öğrenmek çok güzel; İstanbul’da yaşıyorum ve her gün çay içiyorum.\n",
             "cp1254", nl("Detected SCS Windows-1254 (TURK)\r\n")),
            ("Türkçe öğrenmek çok güzel; İstanbul'da yaşıyorum ve her gün çay içiyorum.\n",
             "iso8859-9", nl("Detected SCS Windows-1254 (TURK)\r\n")),
            ("Le cœur a ses raisons que la raison ne connaît point. Où êtes-vous allé, "
             "mon élève ? Ça dépend du théâtre.\n", "mac-roman",
             nl("Detected SCS Apple-Roman (WEUR)\r\n")),
            ("Über die Brücke gehen wir morgen früh, während die Sonne aufgeht; "
             "schöne Grüße aus Köln.\n", "mac-roman", nl("Detected SCS Apple-Roman (WEUR)\r\n")),
        ]
        for value, codec, message in cases:
            with self.subTest(codec=codec, text=value[:12]):
                out = self.check(value.encode(codec), message, value, program=shipped)
                self.assertIn("Runner-up: ", out)

    def _write_stat(self, name, charset, entries, label=b"TST\x00"):
        data = b"STAT" + label + struct.pack("<II", charset, 0)
        data += b"STBL" + struct.pack("<II", 0, len(entries))
        for key, weight in entries:
            data += struct.pack("<Id", key, weight)
        with open(os.path.join(self.bindir, name), "wb") as f:
            f.write(data)

    def test_untrusted_statistics_files_are_skipped(self):
        # A planted file with a NaN, an infinite or an absurd weight would win
        # every detection; an oversized one would cost time and memory on
        # every run.
        self._write_stat("a-nan.dat", 6, [(0xE9, float("nan"))])
        self._write_stat("b-inf.dat", 6, [(0xE9, float("inf"))])
        self._write_stat("c-huge.dat", 6, [(0xE9, 1e300)])
        with open(os.path.join(self.bindir, "d-big.dat"), "wb") as f:
            f.write(b"STAT" + bytes(12) + b"x" * (1024 * 1024))
        self._write_stat("e-good.dat", 18, [(0xE9, 1.0)], b"FRA\x00")
        out = self.check("café crème".encode("cp1252"), nl("Detected SCS Windows-1252 (FRA)\r\n"),
                         "café crème")
        self.assertIn(nl("Found 1 stat files\r\n"), out)
        self.assertIn(nl("Using the statistics files in %s\r\n") % shown(self.bindir), out)
        for name in ("a-nan.dat", "b-inf.dat", "c-huge.dat"):
            self.assertIn(nl("Statistics file %s holds a weight that is not a number between "
                             "-10000 and 10000; skipped\r\n") % shown(os.path.join(self.bindir, name)),
                          out)
        self.assertIn(nl("Statistics file %s is larger than 1048576 bytes; skipped\r\n")
                      % shown(os.path.join(self.bindir, "d-big.dat")), out)

    @posix_only("a FIFO next to the program")
    def test_fifo_among_the_statistics_files_never_blocks(self):
        os.mkfifo(os.path.join(self.bindir, "x.dat"))
        self._write_stat("y.dat", 18, [(0xE9, 1.0)], b"FRA\x00")
        out = self.check("café crème".encode("cp1252"), nl("Detected SCS Windows-1252 (FRA)\r\n"),
                         "café crème")
        self.assertIn(nl("Statistics file %s is not a regular file; skipped\r\n")
                      % os.path.join(self.bindir, "x.dat"), out)
        self.assertIn(nl("Found 1 stat files\r\n"), out)
        self.assertEqual(stat.S_IFMT(os.lstat(os.path.join(self.bindir, "x.dat")).st_mode),
                         stat.S_IFIFO)

    def test_second_input_is_detected_anew(self):
        os.mkdir(self.path("d"))
        with open(self.path("d", "1.txt"), "wb") as f:
            f.write(b"\xff\xfeA\x00")
        with open(self.path("d", "2.txt"), "wb") as f:
            f.write(b"\xc3\xa4\xc3\xb6 ok")
        proc = subprocess.run(PREFIX + [self.program, os.path.join("d", "?.txt"), "/o", "utf-8",
                              "/nobom", "/loglevel=2"], cwd=self.dir, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        out = msg(proc.stdout, proc.stderr)
        self.assertEqual(proc.returncode, 0, out)
        removed = [l for l in out.split(NL) if l.startswith("Removed Last Filter")]
        self.assertEqual(len(removed), 2, out)
        self.assertEqual(removed[0], "Removed Last Filter \"NUL Filter\"")
        self.assertIn(removed[1], ("Removed Last Filter \"UTF-16 Input Filter\"",
                                   "Removed Last Filter \"UTF-8 to UTF-16 conversion filter\""))
        with open(self.path("d", "1.txt"), "rb") as f:
            self.assertEqual(f.read(), b"A")
        with open(self.path("d", "2.txt"), "rb") as f:
            self.assertEqual(f.read(), "äö ok".encode("utf-8"))

    @posix_only("the results and the messages are apart only where messages go to standard error")
    def test_one_run_over_many_inputs_decides_as_one_run_each(self):
        # The statistics files are read once per run and kept for every
        # input: each input's set and every file's score come out as in a
        # run of its own, whatever came before it, and an unusable file is
        # reported once per run, not once per input.
        shipped = self.with_shipped_files()
        self._write_stat("zz-nan.dat", 6, [(0xE9, float("nan"))])
        os.replace(os.path.join(self.bindir, "zz-nan.dat"),
                   os.path.join(os.path.dirname(shipped), "zz-nan.dat"))
        texts = [
            ("1.txt", "“Très bien”, dit-il – c’est 20 € pour le café… « Voilà ! »\n", "cp1252"),
            ("2.txt", "Съешь же ещё этих мягких французских булок да выпей чаю.\n", "koi8-r"),
            ("3.txt", "Türkçe öğrenmek çok güzel; İstanbul’da yaşıyorum.\n", "cp1254"),
            ("4.txt", "plain ASCII only\n", "ascii"),
            ("5.txt", "Καλημέρα σας, τι κάνετε σήμερα;\n", "cp1253"),
            ("6.txt", "“Très bien”, dit-il – c’est 20 € pour le café… « Voilà ! »\n", "cp1252"),
        ]
        os.mkdir(self.path("d"))
        for name, value, codec in texts:
            self.write(os.path.join("d", name), value.encode(codec))

        def detect(*paths):
            proc = subprocess.run(PREFIX + [shipped, "--detect", "--verbose", "/loglevel=2"] +
                                  list(paths), cwd=self.dir, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=60)
            self.assertEqual(proc.returncode, 0, msg(proc.stdout, proc.stderr))
            return proc.stdout.decode("utf-8"), text(proc.stderr)

        together, messages = detect(*[os.path.join("d", name) for name, _, _ in texts])
        skipped = "holds a weight that is not a number between -10000 and 10000; skipped"
        self.assertEqual(messages.count(skipped), 1, messages)
        alone = ""
        for name, _, _ in texts:
            out, messages = detect(os.path.join("d", name))
            self.assertEqual(messages.count(skipped), 1, messages)
            alone += out
        self.assertEqual(together, alone)
        self.assertEqual(together.count("basis: statistics"), 5, together)

    def test_pipe_input_is_detected_on_all_of_it(self):
        # A pipe may deliver the first bytes alone; the decision waits.
        data = "x" * 10 + "äöü" * 10
        proc = subprocess.Popen(PREFIX + [self.program, "\\\\.\\CONIN$", "out.bin", "/o", "utf-16",
                                "/nobom"], cwd=self.dir, stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        raw = data.encode("utf-8")
        proc.stdin.write(raw[:3])
        proc.stdin.flush()
        time.sleep(0.2)
        proc.stdin.write(raw[3:])
        proc.stdin.close()
        self.assertEqual(proc.wait(timeout=60), 0)
        self.assertEqual(self.read("out.bin"), data.encode("utf-16-le"))


if __name__ == "__main__":
    unittest.main()
