"""The path limit of a walk: a file whose full path has 259 code units is
converted, one with 260 is reported with the limit and left as it was,
never shortened to some other name."""

import os
import unittest

from ordana_run import ScratchTestCase, posix_only, run_streams, text

LATIN1 = b"caf\xe9\n"
CONVERT = ["/i", "iso8859-1", "/o", "utf-8", "/y"]


@posix_only("the lengths are those of the POSIX tree; Wine shows paths as Z:\\...")
class WalkPathLimitTest(ScratchTestCase):
    def file_of_length(self, sub, total):
        """A directory `sub` with one file whose absolute path has `total` units."""
        directory = os.path.realpath(self.path(sub))
        os.mkdir(directory)
        name = "n" * (total - len(directory) - 1)
        self.assertLessEqual(len(name), 255, "the scratch directory's path is too long")
        path = os.path.join(directory, name)
        with open(path, "wb") as f:
            f.write(LATIN1)
        self.assertEqual(len(path), total)
        return directory, path

    def test_259_units_are_converted_and_260_are_refused(self):
        cases = [(259, True), (260, False)]
        for total, converted in cases:
            with self.subTest(total=total):
                directory, path = self.file_of_length("d%d" % total, total)
                code, out, err = run_streams([directory] + CONVERT)
                said = text(out + err)
                with open(path, "rb") as f:
                    data = f.read()
                self.assertEqual(sorted(os.listdir(directory)), [os.path.basename(path)], said)
                if converted:
                    self.assertEqual(code, 0, said)
                    self.assertEqual(data, b"\xef\xbb\xbf" + "café\n".encode("utf-8"))
                    self.assertNotIn("too long", said)
                    self.assertIn("1 file was processed", said)
                else:
                    self.assertEqual(code, 4, said)
                    self.assertEqual(data, LATIN1)
                    self.assertIn("too long (at most 259 characters): " + path, said)
                    self.assertIn("0 files were processed", said)
                    self.assertIn("1 input failed.", said)

    def test_detection_counts_a_path_over_the_limit_as_failed(self):
        directory, path = self.file_of_length("d", 260)
        code, out, err = run_streams(["--detect", directory])
        self.assertEqual(code, 4, text(err))
        self.assertEqual(out, b"")
        self.assertIn("too long (at most 259 characters): " + path, text(err))
        self.assertIn("1 input failed.", text(err))


if __name__ == "__main__":
    unittest.main()
