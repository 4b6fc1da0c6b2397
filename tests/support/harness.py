"""What the Python test drivers share: the end-to-end cases (tests/e2e/run.py
with everyday.py and history.py) and the settings dialog's cases
(tests/dialog/run.py). Each driver runs Quorpa.exe under Wine through the UI
robot; here are the outcome of a case, its checks, the message boxes' flags,
paths as Wine names them, the start of a Windows program in the build's
prefix and the fixtures both drivers use.

A driver finds this module beside it with
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
"""
import os
import socket
import struct
import subprocess

SKIP = 77  # the exit code CTest counts as skipped

# Every box of the program is titled with the executable's base name.
TITLE = "Quorpa"
WARNING = 48       # MB_OK | MB_ICONEXCLAMATION
CONFIRM = 36       # MB_YESNO | MB_ICONQUESTION
INFORMATION = 64   # MB_OK | MB_ICONINFORMATION

# A stop button (中止) must end its send or connection test within this time.
STOP_LIMIT_MS = 1000


class Failure(Exception):
    """A check of a case failed; the text says which and how."""


class Skip(Exception):
    """The case cannot run here (no display, a fixture missing)."""


def check(condition, what):
    """Fails the case with what unless condition holds."""
    if not condition:
        raise Failure(what)


def expect_equal(what, actual, expected):
    """Fails the case unless actual equals expected; what names the value."""
    if actual != expected:
        raise Failure("%s differs:\n  expected: %r\n  actual:   %r" % (what, expected, actual))


def cp932(text):
    return text.encode("cp932")


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def win_path(path):
    """A Linux path as the Windows programs under Wine see it (drive Z:)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def read_bmp(path):
    """Rows (top first) of (r, g, b) pixels of a 24-bit BMP file."""
    with open(path, 'rb') as f:
        data = f.read()
    offset, = struct.unpack_from('<I', data, 10)
    width, height = struct.unpack_from('<ii', data, 18)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        row = offset + stride * y
        rows.append([tuple(data[row + 3 * x + i] for i in (2, 1, 0)) for x in range(width)])
    return rows if height < 0 else rows[::-1]


def free_port():
    """A loopback port that was free a moment ago."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wine(source, prefix, args, log, timeout, env=None, cwd=None):
    """Runs a Windows program (args, the program first) in the Wine prefix
    folder prefix (usually the build's own, BUILD/wineprefix), in folder cwd
    (None: this process's). Its output goes to the open file log, never to a
    pipe (Wine's services would hold it open). env: the whole environment,
    or None for this process's. Returns the exit code; raises
    subprocess.TimeoutExpired after timeout seconds."""
    return subprocess.call([os.path.join(source, "scripts", "wine-run"), prefix] + args,
                           cwd=cwd, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT, env=env,
                           timeout=timeout)


def submit_env():
    """The private submission server's env file (tests/support/SubmissionServer.sh)
    as a dict; Skip without the fixture."""
    folder = os.environ.get("QUORPA_SUBMISSION_DIR", "")
    if folder.startswith("Z:"):
        folder = folder[2:]
    if not folder or not os.path.exists(os.path.join(folder, "env")):
        raise Skip("runs with the submission server fixture only")
    with open(os.path.join(folder, "env"), encoding="utf-8") as f:
        return dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)


def run_case(name, case, *args):
    """Runs one case and prints its outcome; returns the driver's exit code
    (0 passed, 1 failed, SKIP skipped)."""
    try:
        case(*args)
    except Skip as e:
        print("%s: SKIP: %s" % (name, e))
        return SKIP
    except Failure as e:
        print("%s: FAIL: %s" % (name, e))
        return 1
    print("%s: PASS" % name)
    return 0
