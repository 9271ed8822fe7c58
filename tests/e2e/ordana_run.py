"""Runs the built ordana for the end-to-end tests."""

import os
import shlex
import subprocess
import tempfile
import unittest

# The program under test; ORDANA_PREFIX runs it through another program
# (an emulator, for instance).
ORDANA = os.environ.get("ORDANA", os.path.join(os.path.dirname(__file__), "..", "..", "build", "ordana"))
PREFIX = shlex.split(os.environ.get("ORDANA_PREFIX", ""))
# True when the program under test is the Windows build (run through Wine):
# tests of POSIX-only behaviour skip themselves with `posix_only`, tests of
# Windows-only behaviour with `windows_only`.
ON_WINDOWS = ORDANA.lower().endswith(".exe")
# The suffix the helper programs beside ORDANA carry.
EXE_SUFFIX = ".exe" if ON_WINDOWS else ""


def _run_once_more_when_wine_did_not_start(run):
    """subprocess.run, which under Wine runs a command of the program under
    test a second time when the first came back with exit code 1 and
    nothing on either stream: that is Wine failing to start the process
    (seen about once in a few thousand runs on a loaded machine). Ordana
    itself exits 1 only before it touches anything (an unknown source set),
    so running such a command again changes nothing. Only commands whose
    input can be given again and whose streams were both captured qualify."""
    def wrapped(args, *pargs, **kwargs):
        result = run(args, *pargs, **kwargs)
        replayable = kwargs.get("stdin") in (None, subprocess.DEVNULL) and not pargs
        captured = (kwargs.get("capture_output") or
                    (kwargs.get("stdout") == subprocess.PIPE and
                     kwargs.get("stderr") == subprocess.PIPE))
        ours = isinstance(args, (list, tuple)) and PREFIX and list(args[:len(PREFIX)]) == PREFIX
        if (ours and replayable and captured and result.returncode == 1 and
                not result.stdout and not result.stderr):
            result = run(args, *pargs, **kwargs)
        return result
    return wrapped


if ON_WINDOWS and PREFIX and not getattr(subprocess.run, "_ordana_wine_retry", False):
    subprocess.run = _run_once_more_when_wine_did_not_start(subprocess.run)
    subprocess.run._ordana_wine_retry = True


def posix_only(reason):
    return unittest.skipIf(ON_WINDOWS, "POSIX only: " + reason)


def windows_only(reason):
    return unittest.skipUnless(ON_WINDOWS, "Windows only: " + reason)


# Environment that makes the user interface German. Wine derives the Windows
# user's interface language from LC_ALL (from LANG only where the system has
# that locale installed); the POSIX build reads LANG as well.
GERMAN = {"LC_ALL": "de_DE.UTF-8"} if ON_WINDOWS else {"LANG": "de_DE.UTF-8"}


# The line end of text for people (messages, the log file, the help): LF on
# POSIX, CR LF on Windows.
NL = "\r\n" if ON_WINDOWS else "\n"


def nl(expected):
    """`expected`, written with CR LF line ends, as the program under test
    writes text for people."""
    return expected.replace("\r\n", NL)


def msg(out, err):
    """The messages of a run whose standard output and standard error were
    `out` and `err` (bytes), as text: standard error on POSIX, standard
    output on Windows."""
    return text((out if ON_WINDOWS else err) or b"")


def read_log(path):
    """The text of a log file (/log): UTF-8 without a byte order mark on
    POSIX, UTF-16LE after one on Windows; decoded strictly, for the log is
    always well-formed (a lone surrogate or a stray byte raises)."""
    with open(path, "rb") as f:
        data = f.read()
    if ON_WINDOWS:
        if not data.startswith(b"\xff\xfe"):
            raise AssertionError("log file without its byte order mark: %r" % data[:40])
        return data[2:].decode("utf-16-le", "strict")
    if data.startswith(b"\xef\xbb\xbf") or data.startswith(b"\xff\xfe"):
        raise AssertionError("log file with a byte order mark: %r" % data[:40])
    return data.decode("utf-8", "strict")


def shown(path):
    """An absolute path of this machine as the program under test prints
    it: Wine shows the root of the POSIX file system as drive Z:."""
    if ON_WINDOWS and path.startswith("/"):
        return "Z:" + path.replace("/", "\\")
    return path


def shm_files(owner):
    """The POSIX names of the status channel of process `owner`."""
    hexid = "%X" % owner
    return ["/dev/shm/Quennel.Ordana." + hexid,
            "/dev/shm/sem.Quennel.Ordana.Mutex." + hexid,
            "/dev/shm/sem.Quennel.Ordana.SemaphoreEmtpy." + hexid,
            "/dev/shm/sem.Quennel.Ordana.SemaphoreFull." + hexid]


# Options that make a conversion an exact byte copy (UTF-16LE in and out,
# no byte order mark added).
COPY = ["/scs=utf-16", "/nobom"]


def environment(extra=None):
    """This process's environment without the language variables (the
    program under test speaks English), plus `extra`."""
    env = dict(os.environ)
    for name in ("LC_ALL", "LC_MESSAGES", "LANG"):
        env.pop(name, None)
    env.update(extra or {})
    return env


def run_streams(args, cwd=None, env_extra=None, stdin=None, stdout=subprocess.PIPE, timeout=120,
                input=None):
    """Runs ordana with `args`, its standard input `stdin` (a file) or the
    bytes `input`; returns (exit code, stdout bytes, stderr bytes)."""
    env = environment(env_extra)
    if input is None and stdin is None:
        stdin = subprocess.DEVNULL
    proc = subprocess.run(PREFIX + [ORDANA] + list(args), cwd=cwd, env=env, stdin=stdin, input=input,
                          stdout=stdout, stderr=subprocess.PIPE, timeout=timeout)
    return proc.returncode, proc.stdout, proc.stderr


def run(args, **kwargs):
    """Runs ordana with `args`; returns (exit code, what the user sees): the
    messages (standard error on POSIX, among the standard output on Windows)
    followed by the standard output. run_streams keeps them apart."""
    code, out, err = run_streams(args, **kwargs)
    out = out or b""
    return code, out if ON_WINDOWS else err + out


def system_user(name):
    """(uid, gid) of the unprivileged system user `name`, created when it is
    missing (each test module uses a name of its own); None when that is not
    possible (not root, no useradd)."""
    import pwd
    if ON_WINDOWS or os.geteuid() != 0:
        return None
    try:
        entry = pwd.getpwnam(name)
    except KeyError:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                        name], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            entry = pwd.getpwnam(name)
        except KeyError:
            return None
    return entry.pw_uid, entry.pw_gid


def text(data):
    """Console output (a pipe) is UTF-8; bytes of file names that are not
    UTF-8 come through as they are."""
    return data.decode("utf-8", "strict")


def utf16(data):
    return data.decode("utf-16-le")


class ScratchTestCase(unittest.TestCase):
    """Gives each test a scratch directory as its working directory."""

    def setUp(self):
        self._scratch = tempfile.TemporaryDirectory(prefix="ordana-e2e-")
        self.dir = self._scratch.name

    def tearDown(self):
        self._scratch.cleanup()

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def shown(self, *parts):
        """path(*parts) as the program prints it."""
        return shown(self.path(*parts))

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def read_log(self, name="ordana.log"):
        return read_log(self.path(name))

    def run_ordana(self, *args, **kwargs):
        kwargs.setdefault("cwd", self.dir)
        return run(args, **kwargs)
