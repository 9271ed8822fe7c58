"""Whole files through the copy chain: in place, to a file, large files."""

import os
import stat
import subprocess
import sys
import unittest

from ordana_run import COPY, ON_WINDOWS, ORDANA, PREFIX, ScratchTestCase, nl, posix_only, text


class InPlaceTest(ScratchTestCase):
    def test_in_place_replaces_the_input_and_leaves_no_temporary(self):
        data = bytes(range(256)) * 10
        self.write("a.txt", data)
        os.chmod(self.path("a.txt"), 0o640)
        code, out = self.run_ordana(*COPY, "a.txt")
        self.assertEqual(code, 0)
        self.assertIn("1 file was processed.", text(out))
        self.assertEqual(self.read("a.txt"), data)
        if not ON_WINDOWS:  # permission bits are POSIX's
            self.assertEqual(stat.S_IMODE(os.stat(self.path("a.txt")).st_mode), 0o640)
        self.assertEqual(sorted(os.listdir(self.dir)), ["a.txt"])

    def test_output_naming_the_input_converts_in_place(self):
        data = b"keep me" * 1000
        self.write("a.txt", data)
        os.symlink("a.txt", self.path("link.txt"))
        for output in ("a.txt", "./a.txt", self.path("a.txt"), "link.txt"):
            with self.subTest(output=output):
                code, _ = self.run_ordana(*COPY, "a.txt", output)
                self.assertEqual(code, 0)
                self.assertEqual(self.read("a.txt"), data)
                self.assertTrue(os.path.islink(self.path("link.txt")))
        self.assertEqual(sorted(os.listdir(self.dir)), ["a.txt", "link.txt"])

    @posix_only("a replaced link target is POSIX's rename behaviour")
    def test_symbolic_link_input_stays_a_link(self):
        self.write("target.txt", b"contents")
        os.symlink("target.txt", self.path("link.txt"))
        code, _ = self.run_ordana(*COPY, "link.txt")
        self.assertEqual(code, 0)
        self.assertTrue(os.path.islink(self.path("link.txt")))
        self.assertEqual(self.read("target.txt"), b"contents")

    def test_output_into_a_directory(self):
        os.mkdir(self.path("out"))
        self.write("a.txt", b"abcd")
        code, _ = self.run_ordana(*COPY, "a.txt", "out")
        self.assertEqual(code, 0)
        self.assertEqual(self.read(os.path.join("out", "a.txt")), b"abcd")

    def test_output_in_a_missing_directory_is_reported(self):
        self.write("a.txt", b"abcd")
        code, out = self.run_ordana(*COPY, "a.txt", os.path.join("no", "such", "b.txt"))
        self.assertEqual(code, 4)
        self.assertIn("Output error for ", text(out))
        self.assertIn(nl("0 files were processed.\r\n1 input failed.\r\n"), text(out))


class WriteFailureTest(ScratchTestCase):
    @posix_only("/dev/full is a Linux device")
    def test_a_failed_write_is_reported_and_not_counted(self):
        # Every write to /dev/full fails with "no space left": the run must
        # say so instead of reporting a processed file.
        self.write("a.txt", b"a\x00b\x00")
        code, out = self.run_ordana(*COPY, "a.txt", "/dev/full")
        self.assertEqual(code, 4)
        out = text(out)
        self.assertIn("Output error for /dev/full: ", out)
        self.assertTrue(out.endswith(nl("0 files were processed.\r\n1 input failed.\r\n")), out)
        self.assertEqual(self.read("a.txt"), b"a\x00b\x00")


class LargeFileTest(ScratchTestCase):
    def peak_rss_kib(self, args):
        """Peak resident memory of one ordana run, measured by a fresh parent."""
        probe = (
            "import resource, subprocess, sys\n"
            "rc = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL,\n"
            "                    stderr=subprocess.DEVNULL).returncode\n"
            "print(rc, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n")
        out = subprocess.run([sys.executable, "-c", probe] + PREFIX + [ORDANA] + args,
                             cwd=self.dir, stdout=subprocess.PIPE, check=True).stdout.split()
        self.assertEqual(out[0], b"0")
        return int(out[1])

    def make_file(self, name, mib):
        block = bytes((i * 31 + i // 256) % 256 for i in range(1 << 20))
        with open(self.path(name), "wb") as f:
            for k in range(mib):
                f.write(block[k % 256:] + block[:k % 256])

    def test_copy_is_exact_and_memory_does_not_grow_with_size(self):
        self.make_file("small.bin", 4)
        self.make_file("big.bin", 100)
        small = self.peak_rss_kib(COPY + ["small.bin", "small.out"])
        big = self.peak_rss_kib(COPY + ["big.bin", "big.out"])
        with open(self.path("big.bin"), "rb") as a, open(self.path("big.out"), "rb") as b:
            while True:
                x, y = a.read(1 << 20), b.read(1 << 20)
                self.assertEqual(x, y)
                if not x:
                    break
        # 96 MiB more input may not cost more than a few pages of bookkeeping.
        self.assertLess(big, small + 2048, (small, big))


if __name__ == "__main__":
    unittest.main()
