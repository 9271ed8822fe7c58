"""ordana-stats, the statistics files it writes, and the files shipped in data/stats."""

import glob
import math
import os
import shutil
import stat
import struct
import subprocess
import sys
import unittest

from ordana_run import EXE_SUFFIX, ORDANA, PREFIX, ScratchTestCase, msg, nl, text

SOURCE_DIR = os.environ.get("ORDANA_SOURCE_DIR",
                            os.path.join(os.path.dirname(__file__), "..", ".."))
STATS_TOOL = os.environ.get("ORDANA_STATS",
                            os.path.join(os.path.dirname(ORDANA), "ordana-stats" + EXE_SUFFIX))
SHIPPED = sorted(glob.glob(os.path.join(SOURCE_DIR, "data", "stats", "*.dat")))

# Short texts written for these tests (not from any training source).
TEXTS = {
    "de": "Die Datei wurde in eine andere Zeichenkodierung umgewandelt. Größere Dateien "
          "werden in Blöcken gelesen, damit der Speicher nicht überläuft. Für jede Eingabe "
          "prüft das Programm zuerst, ob eine Markierung der Bytereihenfolge vorhanden ist; "
          "danach schätzt es die Kodierung anhand typischer Buchstabenfolgen. Übrigens "
          "kommen Umlaute wie ä, ö und ü sowie das ß im Deutschen häufig vor.\n",
    "fr": "Le fichier a été converti dans un autre codage de caractères. Les gros fichiers "
          "sont lus par morceaux afin que la mémoire ne déborde pas. Pour chaque entrée, le "
          "programme vérifie d'abord la présence d'une marque d'ordre des octets ; ensuite il "
          "estime le codage d'après les suites de lettres habituelles. Le cœur du problème, "
          "ce sont les œuvres anciennes, écrites quand chaque système avait son propre jeu.\n",
    "cs": "Soubor byl převeden do jiného kódování znaků. Větší soubory se čtou po částech, "
          "aby nedošlo k přetečení paměti. U každého vstupu program nejprve zjistí, zda "
          "obsahuje značku pořadí bajtů; potom odhadne kódování podle typických posloupností "
          "písmen. Čeština používá háčky a čárky, například ř, š, č, ž, ě a ů.\n",
    "ru": "Файл был преобразован в другую кодировку символов. Большие файлы читаются "
          "частями, чтобы не переполнить память. Для каждого входного файла программа сначала "
          "проверяет, есть ли в нём метка порядка байтов; затем она оценивает кодировку по "
          "типичным последовательностям букв. Это особенно важно для старых текстов.\n",
    "el": "Το αρχείο μετατράπηκε σε άλλη κωδικοποίηση χαρακτήρων. Τα μεγάλα αρχεία "
          "διαβάζονται σε τμήματα, ώστε να μην γεμίσει η μνήμη. Για κάθε είσοδο το πρόγραμμα "
          "ελέγχει πρώτα αν υπάρχει σήμανση σειράς των byte και έπειτα εκτιμά την "
          "κωδικοποίηση από τις συνηθισμένες ακολουθίες γραμμάτων. Άλλωστε έτσι δουλεύει.\n",
    "tr": "Dosya başka bir karakter kodlamasına dönüştürüldü. Büyük dosyalar, belleğin "
          "taşmaması için parça parça okunur. Program her girdi için önce bir bayt sırası "
          "işareti olup olmadığını denetler; ardından kodlamayı tipik harf dizilerine bakarak "
          "tahmin eder. Türkçede ğ, ş, ı ve İ gibi harfler sık kullanılır.\n",
    "lt": "Failas buvo paverstas į kitą simbolių koduotę. Dideli failai skaitomi dalimis, kad "
          "neperpildytų atminties. Kiekvienam įvesties failui programa pirmiausia patikrina, "
          "ar yra baitų tvarkos žymė; paskui ji įvertina koduotę pagal būdingas raidžių "
          "sekas. Lietuvių kalboje dažnai pasitaiko raidės ą, č, ę, ė, į, š, ų, ū ir ž.\n",
    "he": "הקובץ הומר לקידוד תווים אחר. קבצים גדולים נקראים בחלקים כדי שהזיכרון לא יתמלא. "
          "עבור כל קלט התוכנית בודקת תחילה אם יש סימן של סדר בתים, ולאחר מכן היא מעריכה את "
          "הקידוד לפי רצפים אופייניים של אותיות. כך אפשר לקרוא גם קבצים ישנים.\n",
    "ar": "تم تحويل الملف إلى ترميز أحرف آخر. تتم قراءة الملفات الكبيرة على أجزاء حتى لا "
          "تمتلئ الذاكرة. لكل ملف إدخال يتحقق البرنامج أولا من وجود علامة ترتيب البايتات، ثم "
          "يقدر الترميز من خلال تسلسلات الحروف المعتادة. وهكذا يمكن قراءة الملفات القديمة.\n",
    "th": "ไฟล์ถูกแปลงเป็นการเข้ารหัสอักขระแบบอื่น ไฟล์ขนาดใหญ่จะถูกอ่านเป็นส่วน ๆ "
          "เพื่อไม่ให้หน่วยความจำเต็ม สำหรับข้อมูลเข้าแต่ละไฟล์ โปรแกรมจะตรวจสอบก่อนว่า"
          "มีเครื่องหมายลำดับไบต์หรือไม่ จากนั้นจึงประเมินการเข้ารหัสจากลำดับตัวอักษร\n",
}

# (language, Python codec): each text in each set that serves its language.
SAMPLES = [
    ("de", "cp1252"), ("de", "cp850"), ("de", "latin-1"), ("fr", "cp1252"),
    ("fr", "iso8859-15"), ("cs", "cp1250"), ("cs", "iso8859-2"), ("cs", "cp852"),
    ("ru", "cp1251"), ("ru", "koi8-r"), ("ru", "cp866"), ("ru", "iso8859-5"),
    ("el", "cp1253"), ("el", "iso8859-7"), ("tr", "cp1254"), ("lt", "cp1257"),
    ("lt", "iso8859-13"), ("he", "cp1255"), ("ar", "cp1256"), ("ar", "iso8859-6"),
    ("th", "cp874"),
]


def parse(data):
    """The file as the detection's loader reads it, checked strictly:
    (label, charset id, [table of single bytes, pairs, triples])."""
    assert len(data) >= 16, "shorter than the header"
    assert data[:4] == b"STAT", "no STAT magic"
    label = data[4:8]
    charset = struct.unpack_from("<I", data, 8)[0]
    tables, pos = [], 16
    for order in (1, 2, 3):
        assert data[pos:pos + 4] == b"STBL", "block %d has no STBL magic" % order
        count = struct.unpack_from("<I", data, pos + 8)[0]
        pos += 12
        assert pos + 12 * count <= len(data), "block %d runs past the end" % order
        table = {}
        for _ in range(count):
            key, weight = struct.unpack_from("<Id", data, pos)
            assert key not in table, "key %#x twice in block %d" % (key, order)
            assert key < 1 << (8 * order), "key %#x too long for block %d" % (key, order)
            assert math.isfinite(weight), "weight of %#x is not finite" % key
            table[key] = weight
            pos += 12
        tables.append(table)
    assert pos == len(data), "%d bytes after the third block" % (len(data) - pos)
    return label, charset, tables


def score(tables, sample):
    """The detection's arithmetic: positions j < n - 4, pairs x 50, triples x 500."""
    w1, w2, w3 = tables
    s1 = s2 = s3 = 0.0
    for j in range(len(sample) - 4):
        s1 += w1.get(sample[j], 0.0)
        s2 += w2.get(sample[j] | sample[j + 1] << 8, 0.0)
        s3 += w3.get(sample[j] | sample[j + 1] << 8 | sample[j + 2] << 16, 0.0)
    return s2 * 50.0 + s1 * 1.0 + s3 * 500.0


def taken_for_utf8(data):
    """The detection's UTF-8 count, which runs before the statistics: a lead
    byte followed by enough 80-BF bytes counts as valid, otherwise invalid; the
    input is UTF-8 as soon as valid > invalid and valid >= 2."""
    valid = invalid = 0
    for p, lead in enumerate(data):
        need = next((n for low, high, n in ((0xC0, 0xDF, 1), (0xE0, 0xEF, 2), (0xF0, 0xF7, 3),
                                           (0xF8, 0xFB, 4), (0xFC, 0xFD, 5))
                     if low <= lead <= high), 0)
        if need:
            tail = data[p + 1:p + 1 + need]
            if len(tail) == need and all(0x80 <= b <= 0xBF for b in tail):
                valid += 1
            else:
                invalid += 1
        if valid > invalid and valid >= 2:
            return True
    return False


CODECS = {1: "iso8859-2", 4: "iso8859-5", 5: "iso8859-6", 6: "iso8859-7", 11: "iso8859-16",
          12: "iso8859-13", 14: "iso8859-15", 15: "cp874", 16: "cp1250", 17: "cp1251",
          18: "cp1252", 19: "cp1253", 20: "cp1254", 21: "cp1255", 22: "cp1256",
          23: "cp1257", 28: "cp850", 29: "cp852", 38: "cp866", 50: "koi8-r", 51: "koi8-u"}


class StatsToolTest(ScratchTestCase):
    def stats(self, *args, expect=0):
        proc = subprocess.run(PREFIX + [STATS_TOOL] + list(args), cwd=self.dir,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              stdin=subprocess.DEVNULL, timeout=300)
        self.assertEqual(proc.returncode, expect, proc.stderr.decode("utf-8", "replace"))
        return proc.stderr.decode("utf-8", "replace")

    def sample(self, name="s.txt", content=None):
        content = content if content is not None else TEXTS["ru"] * 3 + TEXTS["de"]
        return self.write(name, content.encode("utf-8"))

    def test_file_has_the_format(self):
        self.sample()
        self.stats("--charset", "17", "--label", "TST", "--output", "t.dat", "s.txt")
        label, charset, (singles, pairs, triples) = parse(self.read("t.dat"))
        self.assertEqual(label, b"TST\x00")
        self.assertEqual(charset, 17)
        self.assertEqual(sorted(singles), list(range(256)))
        self.assertTrue(pairs and triples)
        # Bytes 0x00-0x7F after bytes 0x00-0x7F say nothing; every kept pair
        # and triple involves a byte 0x80-0xFF.
        self.assertTrue(all(singles[b] == 0.0 for b in range(0x80)))
        self.assertTrue(all(k & 0x8080 for k in pairs))
        self.assertTrue(all(k & 0x808000 for k in triples))

    def test_a_full_label_has_no_padding_and_names_work_as_ids(self):
        self.sample()
        self.stats("--charset", "Windows-1251", "--label", "CYRL", "--output", "a.dat", "s.txt")
        self.stats("--charset", "cp1251", "--label", "CYRL", "--output", "b.dat", "s.txt")
        self.stats("--charset", "17", "--label", "CYRL", "--output", "c.dat", "s.txt")
        self.assertEqual(self.read("a.dat")[4:8], b"CYRL")
        self.assertEqual(self.read("a.dat"), self.read("b.dat"))
        self.assertEqual(self.read("a.dat"), self.read("c.dat"))

    def test_same_input_same_bytes(self):
        self.sample()
        for name in ("1.dat", "2.dat"):
            self.stats("--charset", "50", "--label", "RU", "--output", name, "s.txt")
        self.assertEqual(self.read("1.dat"), self.read("2.dat"))

    def test_limits_bound_the_tables(self):
        self.sample()
        self.stats("--charset", "17", "--label", "RU", "--output", "t.dat", "--max-pairs", "50",
                   "--max-triples", "70", "s.txt")
        _, _, (singles, pairs, triples) = parse(self.read("t.dat"))
        self.assertEqual(len(singles), 256)
        self.assertLessEqual(len(pairs), 50 + 70)  # kept pairs, and the histories of triples
        self.assertLessEqual(len(triples), 70)

    def test_plain_ascii_scores_zero_and_the_right_set_wins(self):
        self.sample()
        for charset, name in ((17, "w.dat"), (50, "k.dat"), (18, "l.dat")):
            self.stats("--charset", str(charset), "--label", "X", "--output", name, "s.txt")
        tables = {name: parse(self.read(name))[2] for name in ("w.dat", "k.dat", "l.dat")}
        self.assertEqual(score(tables["w.dat"], b"plain ASCII text, nothing else\r\n"), 0.0)
        text_ru = TEXTS["ru"]
        for codec, best in (("cp1251", "w.dat"), ("koi8-r", "k.dat")):
            sample = text_ru.encode(codec)
            scores = {name: score(t, sample) for name, t in tables.items()}
            self.assertEqual(max(scores, key=scores.get), best, scores)
            self.assertGreater(scores[best], 0.0)

    def test_unencodable_and_malformed_input_is_skipped(self):
        self.write("s.txt", b"\xef\xbb\xbf" + TEXTS["ru"].encode("utf-8") +
                   b"\xff\xc3(\xed\xa0\x80" + "日本語 ☃".encode("utf-8"))
        err = self.stats("--charset", "KOI8-R", "--label", "RU", "--output", "t.dat", "s.txt")
        self.assertIn("characters not encodable", err)
        self.assertIn(" 4 characters not encodable, 5 malformed bytes", err)
        parse(self.read("t.dat"))

    def test_command_lines_that_cannot_be_used(self):
        self.sample()
        cases = [
            ["--label", "X", "--output", "t.dat", "s.txt"],                       # no set
            ["--charset", "17", "--output", "t.dat", "s.txt"],                    # no label
            ["--charset", "17", "--label", "X", "s.txt"],                         # no output
            ["--charset", "17", "--label", "X", "--output", "t.dat"],             # no sample
            ["--charset", "utf-8", "--label", "X", "--output", "t.dat", "s.txt"],
            ["--charset", "auto", "--label", "X", "--output", "t.dat", "s.txt"],
            ["--charset", "60", "--label", "X", "--output", "t.dat", "s.txt"],
            ["--charset", "Windows-9999", "--label", "X", "--output", "t.dat", "s.txt"],
            ["--charset", "17", "--label", "FIVE!", "--output", "t.dat", "s.txt"],
            ["--charset", "17", "--label", "", "--output", "t.dat", "s.txt"],
            ["--charset", "17", "--label", "X", "--output", "t.dat", "--max-pairs", "x",
             "s.txt"],
            ["--charset", "17", "--label", "X", "--output", "t.dat", "--bogus", "s.txt"],
        ]
        for args in cases:
            with self.subTest(args=args):
                self.stats(*args, expect=2)
                self.assertFalse(os.path.exists(self.path("t.dat")))

    def test_every_name_ordana_accepts(self):
        # Names of digits are names, not ids; the everyday names of other
        # tools too. The set id goes into the header.
        self.sample()
        for name, charset in (("866", 38), ("850", 28), ("cp1251", 17), ("IBM866", 38),
                              ("windows_1251", 17), ("17", 17), ("koi8_r", 50)):
            with self.subTest(name=name):
                self.stats("--charset", name, "--label", "X", "--output", "t.dat", "s.txt")
                self.assertEqual(parse(self.read("t.dat"))[1], charset)

    def test_sets_that_are_not_ascii_are_refused(self):
        self.sample()
        for name in ("EBCDIC-37", "ebcdic-500", "56", "59"):
            with self.subTest(name=name):
                err = self.stats("--charset", name, "--label", "X", "--output", "t.dat", "s.txt",
                                 expect=2)
                self.assertIn("not ASCII", err)
                self.assertFalse(os.path.exists(self.path("t.dat")))

    def assert_nothing_left_behind(self, *expected):
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(expected))

    def test_only_a_regular_file_is_replaced(self):
        self.sample()
        args = ["--charset", "17", "--label", "X", "s.txt", "--output"]
        # An empty directory named as the output stays as it was.
        os.mkdir(self.path("out.dat"))
        err = self.stats(*args, "out.dat", expect=1)
        self.assertIn("not a regular file", err)
        self.assertTrue(os.path.isdir(self.path("out.dat")))
        self.assertEqual(os.listdir(self.path("out.dat")), [])
        self.assert_nothing_left_behind("s.txt", "out.dat")
        # A regular file is replaced, and nothing else is left beside it.
        self.write("t.dat", b"old")
        self.stats(*args, "t.dat")
        parse(self.read("t.dat"))
        self.assert_nothing_left_behind("s.txt", "out.dat", "t.dat")
        # A file that happens to be named like a temporary one is not ours.
        self.write("t.dat.tmp", b"someone else's")
        self.stats(*args, "t.dat")
        self.assertEqual(self.read("t.dat.tmp"), b"someone else's")

    @unittest.skipIf(sys.platform == "win32" or EXE_SUFFIX, "POSIX only: FIFOs and links")
    def test_a_fifo_or_a_dangling_link_is_not_replaced(self):
        self.sample()
        args = ["--charset", "17", "--label", "X", "s.txt", "--output"]
        os.mkfifo(self.path("fifo.dat"))
        self.stats(*args, "fifo.dat", expect=1)
        self.assertTrue(stat.S_ISFIFO(os.lstat(self.path("fifo.dat")).st_mode))
        os.symlink("nowhere.dat", self.path("dangling.dat"))
        self.stats(*args, "dangling.dat", expect=1)
        self.assertEqual(os.readlink(self.path("dangling.dat")), "nowhere.dat")
        self.assert_nothing_left_behind("s.txt", "fifo.dat", "dangling.dat")

    def test_unreadable_or_empty_samples_fail(self):
        self.write("ascii-free.txt", "日本語".encode("utf-8"))
        self.stats("--charset", "17", "--label", "X", "--output", "t.dat", "missing.txt",
                   expect=1)
        self.stats("--charset", "17", "--label", "X", "--output", "t.dat", "ascii-free.txt",
                   expect=1)
        self.assertFalse(os.path.exists(self.path("t.dat")))


class ShippedFilesTest(ScratchTestCase):
    def test_every_shipped_file_parses(self):
        self.assertGreaterEqual(len(SHIPPED), 14)
        charsets = set()
        for path in SHIPPED:
            with self.subTest(path=os.path.basename(path)):
                with open(path, "rb") as f:
                    data = f.read()
                self.assertLessEqual(len(data), 256 * 1024)
                label, charset, tables = parse(data)
                self.assertLess(charset, 60)
                self.assertNotIn(charset, charsets)
                charsets.add(charset)
                self.assertTrue(label.rstrip(b"\x00").isalpha(), label)
        # The sets the brief names, at least.
        self.assertLessEqual({18, 16, 1, 17, 50, 38, 19, 6, 20, 23, 21, 22, 15, 28}, charsets)

    def test_shipped_files_are_the_ones_the_trainer_builds(self):
        sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
        try:
            import train_stats
        finally:
            sys.path.pop(0)
        self.assertEqual(sorted(entry[0] for entry in train_stats.STATS),
                         sorted(os.path.basename(p) for p in SHIPPED))
        for name, charset, label, _langs, _options in train_stats.STATS:
            with open(os.path.join(SOURCE_DIR, "data", "stats", name), "rb") as f:
                header = f.read(16)
            self.assertEqual(header[4:8], label.encode("ascii").ljust(4, b"\x00"))
            self.assertEqual(struct.unpack_from("<I", header, 8)[0], charset)

    def test_the_build_puts_them_next_to_the_program(self):
        for path in SHIPPED:
            copy = os.path.join(os.path.dirname(ORDANA), os.path.basename(path))
            with self.subTest(name=os.path.basename(path)):
                self.assertTrue(os.path.exists(copy), "%s is not next to the program" % copy)
                with open(path, "rb") as a, open(copy, "rb") as b:
                    self.assertEqual(a.read(), b.read(), "%s is stale" % copy)

    def test_the_best_file_decodes_each_sample(self):
        # The files alone, scored as the detection scores them.
        files = []
        for path in SHIPPED:
            with open(path, "rb") as f:
                files.append(parse(f.read()))
        for lang, codec in SAMPLES:
            with self.subTest(lang=lang, codec=codec):
                sample = TEXTS[lang].encode(codec)
                best = max(files, key=lambda entry: score(entry[2], sample))
                self.assertEqual(sample.decode(CODECS[best[1]]), TEXTS[lang],
                                 "%s %s went to %s" % (lang, codec, CODECS[best[1]]))

    def test_program_with_the_shipped_files(self):
        # A copy of the program with the shipped files beside it; the decoded
        # output must be the original text.  Text in DOS-866, ISO-8859-5 or
        # Windows-874 can look like UTF-8 to the test that runs before the
        # statistics (this Russian sample in DOS-866 does); such samples are
        # left to the test above.
        bindir = self.path("bin")
        os.mkdir(bindir)
        program = os.path.join(bindir, os.path.basename(ORDANA))
        shutil.copy2(ORDANA, program)
        for path in SHIPPED:
            shutil.copy2(path, bindir)
        for lang, codec in SAMPLES:
            data = TEXTS[lang].encode(codec)
            if taken_for_utf8(data):
                continue
            with self.subTest(lang=lang, codec=codec):
                self.write("in.txt", data)
                proc = subprocess.run(PREFIX + [program, "in.txt", "out.txt", "/o", "utf-8",
                                      "/nobom", "/loglevel=2"], cwd=self.dir,
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                      stdin=subprocess.DEVNULL)
                out = msg(proc.stdout, proc.stderr)
                self.assertEqual(proc.returncode, 0, out)
                self.assertIn(nl("Found %d stat files\r\n") % len(SHIPPED), out)
                self.assertIn("Detected SCS ", out)
                self.assertEqual(self.read("out.txt").decode("utf-8"), TEXTS[lang], out)


if __name__ == "__main__":
    unittest.main()
