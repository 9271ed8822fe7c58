"""The status channel against another local user and against a damaged or
forged area: squatted names, a dead owner's leftovers, an area cut short under
ordana-watch, forged records with control characters."""

import mmap
import os
import struct
import subprocess
import sys

from ordana_run import ORDANA, msg, posix_only, system_user, text
from test_status import (CHANNEL_SIZE, HEADER, NO_RECORD, RECORD, WATCH, LineReader,
                         StatusTestCase, shm_files)

OTHER_USER = "odn_h4_squatter"
# A valid semaphore of count 0 as the C library keeps it in /dev/shm/sem.NAME.
SEMAPHORE_FILE = b"\0" * 32


def other_user():
    """(uid, gid) of OTHER_USER, created when missing; None when not root."""
    return system_user(OTHER_USER)


# Creates files exclusively with the given mode and size: run as the other user.
CREATE = """
import os, sys
for spec in sys.argv[1:]:
    path, mode, size = spec.rsplit(":", 2)
    fd = os.open(path, os.O_CREAT | os.O_EXCL | os.O_RDWR, 0o600)
    os.fchmod(fd, int(mode, 8))
    os.ftruncate(fd, int(size))
    os.close(fd)
"""


def lure():
    """An area that looks initialised: signature, capacity and a free list
    0 -> 1 -> ... -> 511, so that a converter trusting it would publish."""
    area = bytearray(CHANNEL_SIZE)
    area[:HEADER.size] = HEADER.pack(1, 0, 512, 0, NO_RECORD, 0)
    for index in range(512):
        at = HEADER.size + index * RECORD.size
        area[at:at + 4] = struct.pack("<I", index + 1 if index < 511 else NO_RECORD)
    return bytes(area)


LURE = lure()


def create_objects(specs, user=None):
    """specs: (path, mode, size); created by `user` (uid, gid) or by us."""
    args = ["%s:%o:%d" % spec for spec in specs]
    command = [sys.executable, "-c", CREATE] + args
    if user:
        command = ["setpriv", "--reuid=%d" % user[0], "--regid=%d" % user[1],
                   "--clear-groups"] + command
    subprocess.run(command, check=True)
    for path, _, size in specs:
        if size == CHANNEL_SIZE:
            with open(path, "r+b") as f:
                f.write(LURE)


def remove_files(paths):
    for path in paths:
        try:
            os.unlink(path)
        except FileNotFoundError:
            pass


def header_bytes(free_head=0, used_head=NO_RECORD, used=0):
    return HEADER.pack(1, used, 512, free_head, used_head, 0)


def record_bytes(path_units, state, link=NO_RECORD, total=100, processed=40, start=1):
    return RECORD.pack(link, processed, total, start, start + 10000, state, 1, 100, 2, 101,
                       path_units.ljust(520, b"\0")[:520], 0)


@posix_only("the channel's objects in /dev/shm and POSIX process ids")
class ChannelSecurityTest(StatusTestCase):
    def setUp(self):
        super().setUp()
        self.owned = []  # /dev/shm paths this test may have caused

    def tearDown(self):
        super().tearDown()
        remove_files(self.owned)

    def start_with_known_pid(self, args):
        """Starts ordana whose process id is known before it runs: a shell
        that waits for a line on a pipe and then becomes ordana.
        Returns (process, go)."""
        read_end, write_end = os.pipe()
        proc = self.start(["sh", "-c", 'read _ <&%d; exec "$0" "$@"' % read_end, ORDANA] +
                          list(args), pass_fds=(read_end,))
        os.close(read_end)
        self.owned += shm_files(proc.pid)

        def go():
            os.write(write_end, b"go\n")
            os.close(write_end)
        return proc, go

    def convert_beside(self, squat):
        """Runs a conversion whose own channel names `squat(pid)` has taken
        first; returns (exit code, messages)."""
        data = "Gr\u00fc\u00dfe\n".encode("utf-16-le")
        self.write("in.txt", data)
        proc, go = self.start_with_known_pid(["in.txt", "out.txt", "/i", "utf-16", "/o", "utf-8",
                                              "/nobom"])
        squat(proc.pid)
        go()
        out, err = proc.communicate(timeout=60)
        self.assertEqual(self.read("in.txt"), data)
        self.assertEqual(self.read("out.txt"), "Gr\u00fc\u00dfe\n".encode("utf-8"))
        return proc.returncode, msg(out, err)

    def assert_untouched(self, path, owner, mode, size):
        info = os.stat(path)
        self.assertEqual((info.st_uid, info.st_mode & 0o777, info.st_size), (owner, mode, size))
        with open(path, "rb") as f:
            data = f.read()
        # Nothing published into it: a squatted area keeps the ready-made
        # header its creator put there to attract records, and no more.
        self.assertEqual(data, LURE if size == CHANNEL_SIZE else b"\0" * size, path)

    def test_names_squatted_by_another_user_get_nothing(self):
        user = other_user()
        if user is None:
            self.skipTest("needs root to create a second user")
        specs = []

        def squat(pid):
            names = shm_files(pid)
            specs[:] = [(names[0], 0o666, CHANNEL_SIZE)] + [(n, 0o666, 32) for n in names[1:]]
            create_objects(specs, user)
        code, out = self.convert_beside(squat)
        self.assertEqual(code, 0)
        self.assertIn("belongs to another user or can be opened by others", out)
        self.assertEqual(out.count("status channel"), 1)  # said once
        self.assertIn("1 file was processed.", out)
        for path, mode, size in specs:
            self.assert_untouched(path, user[0], mode, size)

    def test_only_a_semaphore_squatted(self):
        user = other_user()
        if user is None:
            self.skipTest("needs root to create a second user")
        squatted = []

        def squat(pid):
            squatted[:] = [(shm_files(pid)[2], 0o644, 32)]
            create_objects(squatted, user)
        code, out = self.convert_beside(squat)
        self.assertEqual(code, 0)
        self.assertIn("belongs to another user", out)
        path = squatted[0][0]
        self.assert_untouched(path, user[0], 0o644, 32)
        # The converter's own objects of that channel are gone again.
        for other in shm_files(int(path.rsplit(".", 1)[1], 16)):
            if other != path:
                self.assertFalse(os.path.exists(other), other)

    def test_own_objects_open_to_others_are_not_used(self):
        specs = []

        def squat(pid):
            specs[:] = [(shm_files(pid)[0], 0o644, CHANNEL_SIZE)]
            create_objects(specs)
        code, out = self.convert_beside(squat)
        self.assertEqual(code, 0)
        self.assertIn("belongs to another user or can be opened by others", out)
        self.assert_untouched(specs[0][0], os.geteuid(), 0o644, CHANNEL_SIZE)

    def test_a_dead_owners_channel_is_reclaimed(self):
        # What a converter killed with SIGKILL left, for the id the next one gets.
        leftovers = []

        def leave(pid):
            names = shm_files(pid)
            create_objects([(names[0], 0o600, CHANNEL_SIZE)] + [(n, 0o600, 32) for n in names[1:]])
            leftovers[:] = [open(n, "rb") for n in names]
        code, out = self.convert_beside(leave)
        self.assertEqual(code, 0)
        self.assertNotIn("status channel", out)
        for f in leftovers:
            self.assertEqual(os.fstat(f.fileno()).st_nlink, 0, f.name)  # removed ...
            self.assertFalse(os.path.exists(f.name), f.name)
            # ... and not reused: the converter published into a fresh area.
            data = f.read()
            self.assertEqual(data, LURE if len(data) == CHANNEL_SIZE else b"\0" * 32, f.name)
            f.close()


def make_channel(owner, records, free_head=0, used_head=NO_RECORD, mode=0o600):
    """A channel area for `owner` as a converter would leave it; returns the
    /dev/shm paths of the four names."""
    names = shm_files(owner)
    create_objects([(names[0], mode, CHANNEL_SIZE)] + [(n, 0o600, 32) for n in names[1:]])
    with open(names[0], "r+b") as f:
        f.write(header_bytes(free_head, used_head))
        for index, data in records.items():
            f.seek(HEADER.size + index * RECORD.size)
            f.write(data)
    return names


@posix_only("the channel's objects in /dev/shm and POSIX process ids")
class WatchAgainstDamageTest(StatusTestCase):
    def start_owner(self):
        """A process that stands for a converter: ordana-watch follows a
        process id that exists."""
        owner = self.start(["sleep", "60"])
        self.addCleanup(remove_files, shm_files(owner.pid))
        return owner

    def test_area_cut_short_under_a_following_watch(self):
        owner = self.start_owner()
        path = "/srv/in\x1b[2Jput.txt".encode("utf-16-le")
        names = make_channel(owner.pid, {0: record_bytes(path, 1)})
        watch = self.start([WATCH, str(owner.pid), "--interval", "20"])
        lines = LineReader(watch.stdout)
        first = lines.next()
        self.assertEqual(first.split(":")[0], "/srv/in\\x1b[2Jput.txt")
        os.truncate(names[0], 0)
        self.assertEqual(watch.wait(timeout=20), 2)  # not SIGBUS (-7)
        self.assertIn("cut short", text(watch.stderr.read()))

    def test_a_channel_open_to_others_is_not_followed(self):
        owner = self.start_owner()
        make_channel(owner.pid, {0: record_bytes("x".encode("utf-16-le"), 1)}, mode=0o644)
        watch = self.start([WATCH, str(owner.pid), "--interval", "20"])
        self.assertEqual(watch.wait(timeout=20), 2)
        self.assertEqual(watch.stdout.read(), b"")
        self.assertIn("belongs to another user or can be opened by others", text(watch.stderr.read()))

    def test_area_cut_short_under_a_collector(self):
        proc, _ = self.start_collector()
        names = shm_files(proc.pid)
        self.addCleanup(remove_files, names)
        os.truncate(names[0], 0)
        self.assertEqual(proc.wait(timeout=20), 2)
        self.assertIn("cut short", text(proc.stderr.read()))
        for name in names:
            self.assertFalse(os.path.exists(name), name)

    def test_forged_records_are_escaped_or_skipped(self):
        proc, lines = self.start_collector("--csv", "all.csv", "--count", "1")
        names = shm_files(proc.pid)
        self.addCleanup(remove_files, names)
        forged = "/x/\x1b[31mred\r\nnext\tcol\u202e\ud800.txt"
        with open(names[0], "r+b") as f:
            area = mmap.mmap(f.fileno(), CHANNEL_SIZE)
        try:
            def put(index, data):
                at = HEADER.size + index * RECORD.size
                area[at:at + RECORD.size] = data
            area[12:16] = struct.pack("<I", 3)  # free-list head: records 0..2 are taken
            put(0, record_bytes(forged.encode("utf-16-le", "surrogatepass"), 2, link=1))
            put(1, record_bytes(b"y\0" * 260, 2, link=2))  # no terminator
            put(2, record_bytes(b"z\0", 9, link=NO_RECORD))  # no such state
            area[16:20] = struct.pack("<I", 0)  # used-list head
        finally:
            area.close()
        self.assertEqual(proc.wait(timeout=20), 0)
        shown = lines.rest()
        self.assertEqual(len(shown), 1, shown)
        self.assertEqual(shown[0], "#0 /x/\\x1b[31mred\\r\\nnext\\tcol\\u202e\ufffd.txt: 100 bytes, "
                                   "utf-8 => utf-16, errors 1/2, 1 ms")
        self.assertIn("1 malformed records skipped", text(proc.stderr.read()))
        data = self.read("all.csv")
        self.assertEqual(data[:2], b"\xff\xfe")
        body = data[2:].decode("utf-16-le", "strict")
        self.assertEqual(body.count("\r\n"), 1)
        fields = body[:-2].split("\t")
        self.assertEqual(fields, ['"/x/\\x1b[31mred\\r\\nnext\\tcol\\u202e\ufffd.txt"', "100",
                                  "utf-8", "utf-16", "1", "2", "1"])
        for name in names:
            self.assertFalse(os.path.exists(name), name)
