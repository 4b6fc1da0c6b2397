#!/usr/bin/env python3
"""End-to-end tests of Quorpa.exe under Wine.

Each case copies the real Quorpa.exe into a fresh folder with its own
Quorpa.ini, Station.txt and MailFormat.txt, starts a real smtp-sink on a free
loopback port, runs Quorpa.exe through the UI robot (which answers the
message boxes as the case says and writes a UTF-8 transcript) and then checks
the boxes' exact texts and flags, the log file byte for byte, the mail that
arrived, the INI file afterwards and the shortcut hooks' marks.

    run.py --list
    run.py --source SRC --build BUILD --case NAME
    run.py --source SRC --build BUILD --measure RUNS

--measure is no test: it runs the sample reservation RUNS times (answered
Yes, delivered to smtp-sink) and prints the time from launch to the
confirmation box and from Yes to the end of the process (min/median/max, in
milliseconds, as the robot's transcript records them).

Exit code 0 passed, 1 failed, 77 skipped (no display, or no smtp-sink).
The checks, the outcome and the start of a Windows program are shared with
the dialog cases (tests/support/harness.py).
"""
import argparse
import hashlib
import json
import os
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from harness import (CONFIRM, INFORMATION, SKIP, STOP_LIMIT_MS, TITLE, WARNING, Failure, Skip,  # noqa: E402,F401
                     check, cp932, crlf, expect_equal, free_port, read_bmp, run_case, submit_env, wine, win_path)

# Robot and program time-outs: generous, since two Wine programs share two
# cores with the rest of a parallel build.
ROBOT_TIMEOUT_MS = 20000
RUN_TIMEOUT_S = 90
# How long a test waits for a shortcut's program to leave its mark, and how
# long it keeps watching for a mark that must not come.
MARK_WAIT_S = 15
NO_MARK_WAIT_S = 3

RCPT = "rec@example.com"


# ---- the iEPG files ----------------------------------------------------------

def epg(station="フジテレビ", year="2004", month="01", date="05", start="21:00", end="21:54",
        title="月曜ドラマ", extra=""):
    return cp932(crlf(
        "Content-type: application/x-tv-program-info; charset=shift_jis\n"
        "version: 1\n"
        "station: %s\nyear: %s\nmonth: %s\ndate: %s\nstart: %s\nend: %s\n"
        "program-title: %s\n%s\n番組の説明。\n" % (station, year, month, date, start, end, title, extra)))


# What 関連付け登録 says with the dialog's defaults, written for every user.
MIME_TYPES = ["application/x-tv-program-info", "application/x-tv-program-digital-info",
              "application/x-multi-tv-program-info", "application/x-multi-tv-program-digital-info"]
MACHINE = "HKEY_LOCAL_MACHINE\\Software\\Classes"
REGISTERED = "\n".join([
    "関連付けをすべてのユーザーに登録しました。登録したレジストリキー:",
    MACHINE + "\\epgfile", MACHINE + "\\Applications\\Quorpa.exe",
    "HKEY_LOCAL_MACHINE\\Software\\Quorpa\\Capabilities",
    "HKEY_LOCAL_MACHINE\\Software\\RegisteredApplications\\Quorpa",
    "HKEY_CURRENT_USER\\Software\\Quorpa\\Associations\\.tvpi", MACHINE + "\\.tvpi",
    MACHINE + "\\MIME\\Database\\Content Type\\application/x-tv-program-info",
    MACHINE + "\\MIME\\Database\\Content Type\\application/x-multi-tv-program-info",
    "HKEY_CURRENT_USER\\Software\\Quorpa\\Associations\\.tvpid", MACHINE + "\\.tvpid",
    MACHINE + "\\MIME\\Database\\Content Type\\application/x-tv-program-digital-info",
    MACHINE + "\\MIME\\Database\\Content Type\\application/x-multi-tv-program-digital-info",
    "HKEY_CURRENT_USER\\Software\\Quorpa\\Associations\\.epg", MACHINE + "\\.epg", "",
    "Windowsがファイルを開くプログラムを尋ねたときは、Quorpaを選んでください。",
    "他のプログラムが開くときは、ファイルを右クリックし、プログラムから開く→別のプログラムを選択で"
    "Quorpaを選んで、常に使うをオンにしてください。"])


# ---- smtp-sink ---------------------------------------------------------------

class Sink:
    """A real smtp-sink on a free loopback port; every mail is dumped to a file."""

    def __init__(self, folder, options=()):
        # smtp-sink drops to nobody when run as root: its dump folder lies
        # where nobody can reach it (not below a private home directory).
        self.dump = tempfile.mkdtemp(prefix="quorpa-e2e-")
        os.chmod(self.dump, 0o777)
        exe = shutil.which("smtp-sink") or "/usr/sbin/smtp-sink"
        if not os.path.exists(exe):
            raise Skip("smtp-sink is not installed (scripts/setup installs postfix)")
        for _ in range(10):
            self.port = free_port()
            args = [exe]
            if os.geteuid() == 0:
                args += ["-u", "nobody"]
            args += list(options) + ["-d", os.path.join(self.dump, "%M."), "127.0.0.1:%d" % self.port, "10"]
            self.log = open(os.path.join(folder, "smtp-sink.log"), "wb")
            self.proc = subprocess.Popen(args, stdout=self.log, stderr=subprocess.STDOUT)
            if self._wait_listening():
                return
            self._end_process()
        self.stop()
        raise Failure("smtp-sink did not start")

    def _wait_listening(self):
        deadline = time.time() + 5
        while time.time() < deadline:
            if self.proc.poll() is not None:
                return False
            with socket.socket() as s:
                if s.connect_ex(("127.0.0.1", self.port)) == 0:
                    s.sendall(b"QUIT\r\n")
                    return True
            time.sleep(0.05)
        return False

    def mails(self):
        """The dumped mails, oldest first, as bytes."""
        names = sorted(os.listdir(self.dump), key=lambda n: os.path.getmtime(os.path.join(self.dump, n)))
        return [open(os.path.join(self.dump, n), "rb").read() for n in names]

    def _end_process(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait()
        self.log.close()

    def stop(self):
        if not self.log.closed:
            self._end_process()
        shutil.rmtree(self.dump, ignore_errors=True)


class DelayedGreeting:
    """A slow server: a loopback relay to a real smtp-sink that holds the
    dialogue back for `delay` seconds after the client connected (the
    greeting comes late), then passes every byte both ways."""

    def __init__(self, sink_port, delay):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, args=(sink_port, delay), daemon=True)
        self.thread.start()

    def _serve(self, sink_port, delay):
        self.listener.settimeout(ROBOT_TIMEOUT_MS / 1000)
        try:
            client, _ = self.listener.accept()
        except OSError:
            return
        with client, socket.create_connection(("127.0.0.1", sink_port)) as server:
            time.sleep(delay)
            peers = {client: server, server: client}
            while True:
                readable, _, _ = select.select(list(peers), [], [], ROBOT_TIMEOUT_MS / 1000)
                if not readable:
                    return
                for s in readable:
                    data = s.recv(65536)
                    if not data:
                        return
                    peers[s].sendall(data)

    def stop(self):
        self.listener.close()
        self.thread.join(5)


# ---- one folder with Quorpa.exe ------------------------------------------------

class Install:
    def __init__(self, env, name):
        self.env = env
        self.dir = os.path.join(env.build, "e2e", name)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        shutil.copy(env.quorpa, os.path.join(self.dir, "Quorpa.exe"))
        self.copy_example("Station.txt")
        self.copy_example("MailFormat.txt")
        self.runs = 0

    def path(self, name):
        return os.path.join(self.dir, name)

    def copy_example(self, name):
        shutil.copy(os.path.join(self.env.source, "examples", name), self.path(name))

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def ini(self, **keys):
        text = "[setting]\n" + "".join("%s=%s\n" % kv for kv in keys.items())
        self.write("Quorpa.ini", cp932(crlf(text)))

    def shortcut(self, name, mark):
        """A real .lnk beside Quorpa.exe that runs the robot's mark tool."""
        rc = self.env.wine([self.env.robot, "--tool", "mklink", win_path(self.path(name + ".lnk")),
                            win_path(self.env.robot), "--tool", "mark", win_path(self.path(mark))],
                           self.dir, "mklink-" + name)
        if rc != 0 or not os.path.exists(self.path(name + ".lnk")):
            raise Failure("could not make %s.lnk (rc %d)" % (name, rc))

    def run(self, answers, args, exe=None, winedebug=None, open_file=None):
        """Runs Quorpa.exe (or exe) with args through the robot, in this
        folder, or has the shell open open_file as a browser does; returns
        (exit code, boxes). winedebug: Wine's debug channels for the run
        (its trace goes to robotN.out)."""
        self.runs += 1
        n = self.runs
        script, transcript = "script%d.txt" % n, "transcript%d.txt" % n
        self.write(script, ("\n".join(answers) + "\n").encode())
        start = ["--open", script, transcript, win_path(open_file)] if open_file else \
            [script, transcript, win_path(exe or self.path("Quorpa.exe"))] + args
        rc = self.env.wine([self.env.robot, "--timeout-ms", str(ROBOT_TIMEOUT_MS)] + start, self.dir,
                           "robot%d" % n, winedebug)
        if not os.path.exists(self.path(transcript)):
            with open(self.path("robot%d.out" % n), "rb") as f:
                output = f.read().decode("utf-8", "replace")
            raise Failure("the robot wrote no transcript (exit code %d); its output:\n%s" % (rc, output))
        records = [json.loads(line) for line in open(self.path(transcript), encoding="utf-8")]
        errors = [r["error"] for r in records if "error" in r]
        if errors:
            raise Failure("the robot could not follow the script: %s\ntranscript: %s" % (errors, records))
        boxes = [r for r in records if "box" in r]
        self.records = records
        exits = [r["exit"] for r in records if "exit" in r]
        expect_equal("the robot's exit code", rc, exits[0])
        return rc, boxes


def expect_boxes(boxes, expected):
    """expected: [(text, flags, answer)]; every box is titled with the exe's base name."""
    actual = [(b["title"], b["text"], b["flags"], b["answer"]) for b in boxes]
    expect_equal("message boxes", actual, [(TITLE, t, f, a) for t, f, a in expected])


def wait_for(path, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if os.path.exists(path):
            return True
        time.sleep(0.1)
    return os.path.exists(path)


# ---- expected texts -------------------------------------------------------------

def confirm_text(day, start, end, channel):
    return "%s %s～%s\n%dチャンネルで予約を実行します\nよろしいですか？" % (day, start, end, channel)


def log_reserve_block(station="フジテレビ", date="2004/01/05", start="21:00", end="21:54", ch=8,
                      adj_start="Mon Jan 05 21:00:00 2004", adj_end="Mon Jan 05 21:54:00 2004"):
    return ("I:Station=%s\r\nI:Date=%s\r\nI:Start=%s\r\nI:End=%s\r\nI:CH=%d\r\n"
            "I:AdjustedStart=%s\n\r\nI:AdjustedEnd=%s\n\r\n" % (station, date, start, end, ch, adj_start, adj_end))


def log_input(arg):
    return "I:InputFile <%s>\r\n" % arg


LOG_START = "I:AplicationInitCompleted\r\nI:ReserveMode\r\n"
LOG_END = "I:AplicationTerminated\r\n"

MSID = r"[0-9a-f]+\$[0-9a-f]+\$[0-9a-f]+\$100007f\$[0-9a-f]+\$"  # tick, thread, pid, server, local
DATE = r"(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d [+-]\d{4}"


def fill_template(template, values):
    for key, value in values:
        template = template.replace(key, value)
    return template


def check_mail(install, dump, start, end, channel, msid_prefix):
    """Checks one dumped mail against the example template; returns the texts
    the program chose itself (HELO name, Date header, message id) and the
    message as sent (CR LF, end-of-data mark included)."""
    text = dump.decode("cp932")
    header, sep, rest = text.partition("Received: ")
    if not sep:
        raise Failure("no mail header in the dump: %r" % text)
    fields = dict(line.split(": ", 1) for line in header.splitlines())
    expect_equal("MAIL FROM", fields.get("X-Mail-Args"), "<%s>" % RCPT)
    expect_equal("RCPT TO", fields.get("X-Rcpt-Args"), "<%s>" % RCPT)
    message = rest.split("\n", 3)[3]  # the Received header's three lines
    date = re.search(r"^Date: (.*)$", message, re.M)
    msid = re.search(r"^Message-ID: <(.*)>$", message, re.M)
    if not date or not re.fullmatch(DATE, date.group(1)):
        raise Failure("bad Date header in %r" % message)
    if not msid or not re.fullmatch(re.escape(msid_prefix) + r"\$" + MSID + re.escape(RCPT), msid.group(1)):
        raise Failure("bad Message-ID in %r (expected to start with %s)" % (message, msid_prefix))
    date_text, zone = date.group(1).rsplit(" ", 1)
    (sy, sm, sd, sh, smin), (ey, em, ed, eh, emin) = start, end
    template = install.read("MailFormat.txt").decode("cp932")
    sent = fill_template(template, [
        ("%date%", date_text), ("%zone%", zone), ("%from%", RCPT), ("%rcpt%", RCPT),
        ("%syea%", "%02d" % (sy % 100)), ("%smon%", "%02d" % sm), ("%sday%", "%02d" % sd),
        ("%shou%", "%02d" % sh), ("%smin%", "%02d" % smin),
        ("%eyea%", "%02d" % (ey % 100)), ("%emon%", "%02d" % em), ("%eday%", "%02d" % ed),
        ("%ehou%", "%02d" % eh), ("%emin%", "%02d" % emin),
        ("%chno%", str(channel)), ("%msid%", msid.group(1))]) + "\r\n.\r\n"
    # smtp-sink stores LF line ends, drops the end-of-data mark and adds an
    # empty line.
    expect_equal("the mail", message, sent[:-len(".\r\n")].replace("\r\n", "\n") + "\n")
    return fields["X-Helo-Args"], sent


def log_smtp(helo, sent):
    return ("R:220 smtp-sink ESMTP\r\n"
            "S:HELO %s\r\nR:250 smtp-sink\r\n"
            "S:MAIL FROM: <%s>\r\nR:250 2.1.0 Ok\r\n"
            "S:RCPT TO: <%s>\r\nR:250 2.1.5 Ok\r\n"
            "S:DATA\r\nR:354 End data with <CR><LF>.<CR><LF>\r\n"
            "S:<SendMail>\r\n%sR:250 2.0.0 Ok\r\n"
            "S:QUIT\r\nR:221 Bye\r\n" % (helo, RCPT, RCPT, sent))


def expect_log(install, expected):
    path = install.path("Quorpa.log")
    if expected is None:
        if os.path.exists(path):
            raise Failure("a log file was written: %r" % install.read("Quorpa.log"))
        return
    expect_equal("the log", install.read("Quorpa.log"), cp932(expected))


# ---- the cases ------------------------------------------------------------------

CASES = {}


def case(fn):
    CASES[fn.__name__] = fn
    return fn


@case
def confirmed(env):
    """The sample file, confirmed: one mail delivered, every log line."""
    q = Install(env, "confirmed")
    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpsvr="127.0.0.1", smtpport=sink.port, logoutput=1)
        shutil.copy(os.path.join(env.source, "examples", "sample.epg"), q.path("sample.epg"))
        rc, boxes = q.run(["yes"], ["sample.epg"])
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [(confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "yes")])
        mails = sink.mails()
        expect_equal("number of mails", len(mails), 1)
        helo, sent = check_mail(q, mails[0], (2004, 1, 5, 21, 0), (2004, 1, 5, 21, 54), 8, "0155068")
        expect_log(q, LOG_START + log_input("sample.epg") + log_reserve_block() + log_smtp(helo, sent) + LOG_END)
    finally:
        sink.stop()


@case
def declined(env):
    """No to the confirmation: the notice, no mail, a normal end. The file's
    description line is longer than 254 bytes (the pieces an earlier reader
    took) and the keys come after it; a NUL byte ends the text, so a station
    key after it is never read."""
    q = Install(env, "declined")
    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpsvr="localhost", smtpport=sink.port, logoutput=1, startad=-5, endad=10)
        long_line = "x" * 300 + "番組" * 200
        memo = cp932("memo: " + long_line)
        data = epg(start="00:00", end="00:30").replace(b"version: 1", b"version: 1\r\n" + memo)
        data += cp932("memo: \0\r\nstation: NHK総合\r\n")
        q.write("prog.epg", data)
        rc, boxes = q.run(["no", "ok"], ["prog.epg"])
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [
            (confirm_text("2004/01/04(日)", "23:55", "00:40", 8), CONFIRM, "no"),
            ("予約を中止しました", INFORMATION, "ok")])
        expect_equal("mails", sink.mails(), [])
        expect_log(q, LOG_START + log_input("prog.epg") + log_reserve_block(
            start="00:00", end="00:30", adj_start="Sun Jan 04 23:55:00 2004",
            adj_end="Mon Jan 05 00:40:00 2004") + LOG_END)
    finally:
        sink.stop()


@case
def two_files(env):
    """Two files in one launch, both confirmed: two separate mails. The port
    setting is taken modulo 65536."""
    q = Install(env, "two_files")
    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpsvr="127.0.0.1", smtpport=sink.port + 65536, logoutput=1)
        q.write("a.epg", epg())
        q.write("b.epg", epg(station="NHK総合", month="2", date="29", start="23:30", end="0:15"))
        rc, boxes = q.run(["yes", "yes"], ["a.epg", win_path(q.path("b.epg"))])
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [
            (confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "yes"),
            (confirm_text("2004/02/29(日)", "23:30", "00:15", 1), CONFIRM, "yes")])
        mails = sink.mails()
        expect_equal("number of mails", len(mails), 2)
        helo_a, sent_a = check_mail(q, mails[0], (2004, 1, 5, 21, 0), (2004, 1, 5, 21, 54), 8, "0155068")
        helo_b, sent_b = check_mail(q, mails[1], (2004, 2, 29, 23, 30), (2004, 3, 1, 0, 15), 1, "1e171d168")
        expect_log(q, LOG_START
                   + log_input("a.epg") + log_reserve_block() + log_smtp(helo_a, sent_a)
                   + log_input(win_path(q.path("b.epg"))) + log_reserve_block(
                       station="NHK総合", date="2004/2/29", start="23:30", end="0:15", ch=1,
                       adj_start="Sun Feb 29 23:30:00 2004", adj_end="Mon Mar 01 00:15:00 2004")
                   + log_smtp(helo_b, sent_b) + LOG_END)
        ini = q.read("Quorpa.ini").decode("cp932")
        expect_equal("the INI file (reserve mode writes nothing)", ini,
                     crlf("[setting]\nrcpt=%s\nsmtpsvr=127.0.0.1\nsmtpport=%d\nlogoutput=1\n"
                          % (RCPT, sink.port + 65536)))
    finally:
        sink.stop()


@case
def send_fails(env):
    """A refused step or a connection that cannot be made fails the file: the
    driver's message, then the start-up's naming the file; no AutoExec hook."""
    q = Install(env, "send_fails")
    q.write("prog.epg", epg())
    hooks_and_marks(q)
    confirm = (confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "yes")
    failed = ("iEPGファイル「prog.epg」の予約に失敗しました", WARNING, "ok")

    # The server refuses the recipient (smtp-sink's soft error for RCPT).
    sink = Sink(q.dir, ["-r", "RCPT"])
    try:
        q.ini(rcpt=RCPT, smtpport=sink.port, logoutput=1)
        rc, boxes = q.run(["yes", "ok", "ok"], ["prog.epg", "never-read.epg"])
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [confirm, ("メール送信に失敗しました(サーバエラー)", WARNING, "ok"), failed])
        expect_equal("mails", sink.mails(), [])
        log = q.read("Quorpa.log").decode("cp932")
        smtp = re.fullmatch(re.escape(LOG_START + log_input("prog.epg") + log_reserve_block())
                            + r"R:220 smtp-sink ESMTP\r\nS:HELO (\S+)\r\nR:250 smtp-sink\r\n"
                            + re.escape("S:MAIL FROM: <%s>\r\nR:250 2.1.0 Ok\r\nS:RCPT TO: <%s>\r\n" % (RCPT, RCPT))
                            + r"R:4[0-9][0-9] [^\r\n]*\r\nE:SMTP error!\r\n", log)
        if not smtp:
            raise Failure("unexpected log: %r" % log)
    finally:
        sink.stop()
    expect_marks(q, ["PreExec"], ["AutoExec1", "AutoExec2"])

    # Nothing listens on the port: the connection attempts fail.
    os.remove(q.path("PreExec.mark"))
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    q.ini(rcpt=RCPT, smtpport=port, logoutput=1)
    rc, boxes = q.run(["yes", "ok", "ok"], ["prog.epg"])
    expect_equal("exit code", rc, 0)
    expect_boxes(boxes, [confirm, ("メール送信に失敗しました(ソケットエラー)", WARNING, "ok"), failed])
    log = q.read("Quorpa.log").decode("cp932")
    if not re.fullmatch(re.escape(LOG_START + log_input("prog.epg") + log_reserve_block())
                        + r"E:<SocketI/Oerror> at net/CSock\.cpp\(\d+\)\r\n", log):
        raise Failure("unexpected log: %r" % log)
    expect_marks(q, ["PreExec"], ["AutoExec1", "AutoExec2"])


@case
def server_unresolvable(env):
    """A server text that gives no address ends reserve mode before the log
    is opened; setting mode shows the same warning and then the dialog, so
    the name can be corrected. 255.255.255.255 is INADDR_NONE itself."""
    q = Install(env, "server_unresolvable")
    q.write("prog.epg", epg())
    for server in ("no-such-host.invalid", "255.255.255.255"):
        q.ini(rcpt=RCPT, smtpsvr=server, logoutput=1)
        message = "SMTPサーバ名(%s)をIPアドレスに変換できません" % server
        if os.path.exists(q.path("Quorpa.log")):
            os.remove(q.path("Quorpa.log"))
        rc, boxes = q.run(["ok"], ["prog.epg"])
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [(message, WARNING, "ok")])
        expect_log(q, None)
        rc, boxes = q.run(["ok", "dialog Quorpa", "read 1001", "type 1001 127.0.0.1", "click 1", "gone"], [])
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [(message, WARNING, "ok")])
        expect_equal("the dialog's server", dialog_fields(q), {1001: server})
        expect_equal("the INI file's server", "smtpsvr=127.0.0.1\r\n" in q.read("Quorpa.ini").decode("cp932"), True)
        expect_log(q, "I:AplicationInitCompleted\r\nI:SettingMode\r\nI:SaveSetting\r\nI:AplicationTerminated\r\n")


def hooks_and_marks(q):
    for name in ("PreExec", "AutoExec1", "AutoExec2"):
        q.shortcut(name, name + ".mark")


def expect_marks(q, present, absent):
    for name in present:
        if not wait_for(q.path(name + ".mark"), MARK_WAIT_S):
            raise Failure("%s.lnk did not run" % name)
    time.sleep(NO_MARK_WAIT_S)
    for name in absent:
        if os.path.exists(q.path(name + ".mark")):
            raise Failure("%s.lnk ran although it must not" % name)


@case
def station_file_missing(env):
    """No Station.txt: the message, no file processed, no AutoExec hooks."""
    q = Install(env, "station_file_missing")
    os.remove(q.path("Station.txt"))
    q.ini(rcpt=RCPT, logoutput=1)
    q.write("prog.epg", epg())
    hooks_and_marks(q)
    rc, boxes = q.run(["ok"], ["prog.epg"])
    expect_equal("exit code", rc, 0)
    expect_boxes(boxes, [("チャンネル設定ファイルを読み込めません", WARNING, "ok")])
    expect_log(q, LOG_START)
    expect_marks(q, ["PreExec"], ["AutoExec1", "AutoExec2"])


@case
def mail_format_missing(env):
    """No MailFormat.txt: the message, no file processed."""
    q = Install(env, "mail_format_missing")
    os.remove(q.path("MailFormat.txt"))
    q.ini(rcpt=RCPT, logoutput=1)
    q.write("prog.epg", epg())
    rc, boxes = q.run(["ok"], ["prog.epg"])
    expect_equal("exit code", rc, 0)
    expect_boxes(boxes, [("メールフォーマットファイルを読み込めません", WARNING, "ok")])
    expect_log(q, LOG_START)


@case
def epg_file_missing(env):
    """The first of two files cannot be read: its whole path is named, the
    second file is never touched, no AutoExec hook runs."""
    q = Install(env, "epg_file_missing")
    q.ini(rcpt=RCPT, logoutput=1)
    q.write("b.epg", epg())
    hooks_and_marks(q)
    missing = win_path(q.path("dl\\ソ表 missing.epg"))
    rc, boxes = q.run(["ok"], [missing, "b.epg"])
    expect_equal("exit code", rc, 0)
    expect_boxes(boxes, [("iEPGファイル(%s)を読み込めません" % missing, WARNING, "ok")])
    expect_log(q, LOG_START + log_input(missing))
    expect_marks(q, ["PreExec"], ["AutoExec1", "AutoExec2"])
    # A path far longer than any buffer of the program is named whole.
    long_arg = "Z:\\" + "\\".join(["長いフォルダ名" * 10] * 8) + "\\x.epg"
    rc, boxes = q.run(["ok"], [long_arg])
    expect_equal("exit code", rc, 0)
    expect_boxes(boxes, [("iEPGファイル(%s)を読み込めません" % long_arg, WARNING, "ok")])
    expect_log(q, LOG_START + log_input(long_arg))


@case
def reservation_fails(env):
    """A failing reservation names the file's base name: taken after the last
    separator as a character (the second byte of ソ or 表 is 0x5C, a
    backslash), with '\\' or '/' as separators."""
    q = Install(env, "reservation_fails")
    q.ini(rcpt=RCPT, logoutput=1)
    os.makedirs(q.path("dl"))
    unknown = epg(station="ソ表テレビ")                 # not in Station.txt: the driver asks first
    malformed = epg().replace(b"station:", b"Station:")  # a key missing: the driver says nothing
    table = [
        # (file name, content, argument, name in the message, the driver's box)
        ("ソ.epg", unknown, win_path(q.path("dl/ソ.epg")), "ソ.epg", "<ソ表テレビ>をチャンネル番号に変換できません"),
        ("表ソ予約.epg", malformed, win_path(q.path("dl/表ソ予約.epg")), "表ソ予約.epg", None),
        ("x.epg", malformed, "Z:" + q.path("dl/x.epg"), "x.epg", None),
        ("ソ表", malformed, "dl\\ソ表", "ソ表", None),
        ("ソ", malformed, "dl/ソ", "ソ", None),
    ]
    for name, content, arg, shown, driver_box in table:
        q.write(os.path.join("dl", name), content)
        # 放送局の登録 declined ends the file as the box did.
        answers = (["dialog 放送局の登録", "read 1050", "click 2", "gone"] if driver_box else []) + ["ok"]
        rc, boxes = q.run(answers, [arg, "never-read.epg"])
        expect_equal("exit code", rc, 0)
        if driver_box:
            expect_equal("放送局の登録", [r["text"] for r in q.records if "control" in r][0].split("\n")[0],
                         driver_box)
        expect_boxes(boxes, [("iEPGファイル「%s」の予約に失敗しました" % shown, WARNING, "ok")])
        if driver_box:
            expect_log(q, LOG_START + log_input(arg)
                       + "I:Station=ソ表テレビ\r\nI:Date=2004/01/05\r\nI:Start=21:00\r\nI:End=21:54\r\nI:CH=0\r\n")
        else:
            expect_log(q, LOG_START + log_input(arg))


@case
def shortcut_hooks(env):
    """PreExec before, AutoExec1 and AutoExec2 after a run whose files all
    succeeded (a declined reservation counts as done); the program does not
    wait for them."""
    q = Install(env, "shortcut_hooks")
    q.ini(rcpt=RCPT)
    q.write("prog.epg", epg())
    hooks_and_marks(q)
    rc, boxes = q.run(["no", "ok"], ["prog.epg"])
    expect_equal("exit code", rc, 0)
    expect_boxes(boxes, [(confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "no"),
                         ("予約を中止しました", INFORMATION, "ok")])
    expect_marks(q, ["PreExec", "AutoExec1", "AutoExec2"], [])
    expect_log(q, None)  # logoutput missing: off


# What Windows asks of the calls below cannot be seen under Wine (it launches
# synchronously and applies no foreground rules), so these cases read the
# calls from Wine's own trace of the run: "pid:tid:trace:..." lines, and the
# relay lines of user32.MessageBoxA (the only relayed function).
TRACE_CHANNELS = "+pid,trace+ole,trace+exec,+relay"


def traced_run(q, answers, args):
    rc = q.env.wine(["reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/d",
                     "user32.MessageBoxA;user32.MessageBoxW", "/f"], q.dir, "relay-filter")
    if rc != 0:
        raise Failure("could not limit Wine's relay trace (rc %d)" % rc)
    rc, boxes = q.run(answers, args, winedebug=TRACE_CHANNELS)
    with open(q.path("robot%d.out" % q.runs), encoding="latin-1") as f:
        return rc, boxes, f.read().splitlines()


@case
def hooks_launch(env):
    """The hooks are opened as Windows asks of a process that may end right
    after: COM initialised first on the thread, apartment-threaded with OLE1
    DDE disabled (CoInitializeEx flags 0x6), then ShellExecuteEx with
    SEE_MASK_NOASYNC (0x100) and SEE_MASK_FLAG_NO_UI (0x400)."""
    q = Install(env, "hooks_launch")
    q.ini(rcpt=RCPT)
    q.write("prog.epg", epg())
    hooks_and_marks(q)
    rc, _, trace = traced_run(q, ["no", "ok"], ["prog.epg"])
    expect_equal("exit code", rc, 0)
    expect_marks(q, ["PreExec", "AutoExec1", "AutoExec2"], [])
    launches = []
    for i, line in enumerate(trace):
        m = re.match(r'([0-9a-f]+:[0-9a-f]+):trace:exec:SHELL_execute mask=0x([0-9a-f]+) .*file=L"[^"]*\\\\(\w+)\.lnk"',
                     line)
        if m:
            launches.append((i, m.group(1), int(m.group(2), 16), m.group(3)))
    expect_equal("hooks opened", [name for _, _, _, name in launches], ["PreExec", "AutoExec1", "AutoExec2"])
    expect_equal("their flags", [mask & 0x500 for _, _, mask, _ in launches], [0x500] * 3)
    thread = launches[0][1]
    com = [line.split(":trace:ole:CoInitializeEx ")[1] for line in trace[:launches[0][0]]
           if line.startswith(thread + ":trace:ole:CoInitializeEx 0")]
    expect_equal("COM on the thread before the first hook", com[:1], ["0000000000000000, 0x6"])


@case
def box_foreground(env):
    """A box without an owner (reserve mode) asks for the foreground
    (MB_SETFOREGROUND, 0x10000, with MB_TASKMODAL) and stays above other
    windows when it does not get it (MB_TOPMOST, 0x40000); a box owned by
    the settings dialog does neither."""
    q = Install(env, "box_foreground")
    q.ini(rcpt=RCPT)
    q.write("prog.epg", epg())
    calls = re.compile(r"[0-9a-f]+:[0-9a-f]+:Call user32\.MessageBox[AW]\(([0-9a-f]+),.*,([0-9a-f]+)\) ret=")
    rc, _, trace = traced_run(q, ["no", "ok"], ["prog.epg"])
    expect_equal("exit code", rc, 0)
    got = [(int(m.group(1), 16), int(m.group(2), 16)) for m in map(calls.match, trace) if m]
    expect_equal("reserve mode's boxes (owner, flags)", got, [(0, 0x52024), (0, 0x52040)])
    rc, _, trace = traced_run(q, ["dialog Quorpa", "type 1002 99", "click 1", "ok", "click 2", "gone"], [])
    expect_equal("exit code", rc, 0)
    got = [(int(m.group(1), 16) != 0, int(m.group(2), 16)) for m in map(calls.match, trace) if m]
    expect_equal("the dialog's prompt (owned, flags)", got, [(True, 0x30)])


@case
def no_ini_file(env):
    """Without Quorpa.ini the defaults apply: server 127.0.0.1, no log, no
    adjustment; reserve mode writes no INI file."""
    q = Install(env, "no_ini_file")
    q.write("prog.epg", epg())
    rc, boxes = q.run(["no", "ok"], ["prog.epg"])
    expect_equal("exit code", rc, 0)
    expect_boxes(boxes, [(confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "no"),
                         ("予約を中止しました", INFORMATION, "ok")])
    expect_log(q, None)
    if os.path.exists(q.path("Quorpa.ini")):
        raise Failure("reserve mode created Quorpa.ini")


@case
def log_not_creatable(env):
    """A log file that cannot be created is named in a box, and the run goes
    on without the log; saving the settings keeps the log switched on."""
    q = Install(env, "log_not_creatable")
    q.ini(rcpt=RCPT, logoutput=1)
    os.makedirs(q.path("Quorpa.log"))  # a folder where the log file should go
    q.write("prog.epg", epg())
    notice = ("ログファイル(%s)を作成できません\n今回はログを出力しません" % win_path(q.path("Quorpa.log")),
              WARNING, "ok")
    rc, boxes = q.run(["ok", "no", "ok"], ["prog.epg"])
    expect_equal("exit code", rc, 0)
    expect_boxes(boxes, [notice, (confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "no"),
                         ("予約を中止しました", INFORMATION, "ok")])
    rc, boxes = q.run(["ok", "dialog Quorpa", "click 1", "gone"], [])
    expect_equal("exit code", rc, 0)
    expect_boxes(boxes, [notice])
    expect_equal("the log switch", "logoutput=1\r\n" in q.read("Quorpa.ini").decode("cp932"), True)


# A greeting this late makes the progress window appear (after about 0.3 s).
GREETING_DELAY_S = 1.5
# The program shows the window once a send has taken this long; a send to
# smtp-sink takes some 30 ms, so it is tried this often before a window
# counts against it.
SHOW_DELAY_MS = 300
# The robot sees a window up to one poll late, and Yes takes effect a little
# after the robot pressed it; it never sees one much too early.
SHOW_DELAY_SLACK_MS = 50
FAST_SEND_RUNS = 3


def progress_records(q, key):
    return [r for r in q.records if key in r]


@case
def progress_window(env):
    """A send that takes more than a moment shows the progress window (its own
    class, no dialog box, not active): the heading, the server and port, the
    step, the seconds and 中止; the mail then arrives as usual. A fast send
    shows none."""
    q = Install(env, "progress_window")
    q.write("prog.epg", epg())
    confirm = (confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "yes")
    sink = Sink(q.dir)
    relay = None
    try:
        q.ini(rcpt=RCPT, smtpport=sink.port, logoutput=1)
        # A send that the loaded machine made slow may show the window
        # rightly: such a run is tried again, a fast one must show none.
        for attempt in range(FAST_SEND_RUNS):
            rc, boxes = q.run(["yes"], ["prog.epg"])
            expect_equal("exit code", rc, 0)
            expect_boxes(boxes, [confirm])
            seen = progress_records(q, "progress_seen")
            took = progress_records(q, "exit")[0]["ms"] - boxes[0]["answered_ms"]
            if not seen:
                break
            if took < SHOW_DELAY_MS or attempt == FAST_SEND_RUNS - 1:
                raise Failure("a send of %d ms showed the progress window: %r" % (took, seen))

        relay = DelayedGreeting(sink.port, GREETING_DELAY_S)
        q.ini(rcpt=RCPT, smtpport=relay.port, logoutput=1)
        rc, boxes = q.run(["yes", "progress"], ["prog.epg"])
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [confirm])
        shown = progress_records(q, "progress")[0]
        waited = progress_records(q, "progress_seen")[0]["ms"] - boxes[0]["answered_ms"]
        if waited < SHOW_DELAY_MS - SHOW_DELAY_SLACK_MS:
            raise Failure("the progress window came %d ms after Yes" % waited)
        texts = shown["texts"]
        expect_equal("the progress window", (shown["progress"], shown["active"], len(texts)), (TITLE, False, 5))
        expect_equal("its texts", texts[:3] + texts[4:], [
            "予約メールを送信しています", "サーバ: 127.0.0.1 (ポート %d)" % relay.port,
            "サーバに接続しています(1回目)", "中止"])
        if not re.fullmatch(r"経過時間: [01]秒", texts[3]):
            raise Failure("unexpected elapsed time text %r" % texts[3])
        mails = sink.mails()
        expect_equal("number of mails", len(mails), attempt + 2)
        helo, sent = check_mail(q, mails[-1], (2004, 1, 5, 21, 0), (2004, 1, 5, 21, 54), 8, "0155068")
        expect_log(q, LOG_START + log_input("prog.epg") + log_reserve_block() + log_smtp(helo, sent) + LOG_END)
    finally:
        if relay:
            relay.stop()
        sink.stop()


@case
def stop_button(env):
    """中止 while the server stays silent after the connection ends the send
    at once: nothing is sent, the stop's box, the failure box, the log line;
    the next file is not read."""
    q = Install(env, "stop_button")
    q.write("prog.epg", epg())
    with socket.socket() as silent:
        # Listening but never accepting: the connection is made, no greeting comes.
        silent.bind(("127.0.0.1", 0))
        silent.listen(1)
        q.ini(rcpt=RCPT, smtpport=silent.getsockname()[1], logoutput=1)
        rc, boxes = q.run(["yes", "progress", "stopsend", "ok", "ok"], ["prog.epg", "never-read.epg"])
        silent.settimeout(5)
        connection, _ = silent.accept()
        with connection:
            connection.settimeout(5)
            expect_equal("what the program sent", connection.recv(1024), b"")
    expect_equal("exit code", rc, 0)
    expect_boxes(boxes, [
        (confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "yes"),
        ("メール送信を中止しました\n予約は送信されていません", WARNING, "ok"),
        ("iEPGファイル「prog.epg」の予約に失敗しました", WARNING, "ok")])
    stopped = progress_records(q, "stopped")[0]
    if boxes[1]["ms"] - stopped["ms"] > STOP_LIMIT_MS:
        raise Failure("the stop took %d ms" % (boxes[1]["ms"] - stopped["ms"]))
    expect_log(q, LOG_START + log_input("prog.epg") + log_reserve_block() + "E:Stopped by user!\r\n")


# A server name longer than the progress window's line that still names the
# loopback address: its first number with leading zeros (octal 0177 is 127).
LONG_SERVER = "0" * 80 + "177.0.0.1"


def ink(rows, box):
    """(x, y) of the text's pixels (dark on the window's face) inside box."""
    left, top, right, bottom = box
    return [(x, y) for y in range(top, bottom) for x in range(left, right) if sum(rows[y][x]) < 300]


@case
def progress_scale(env):
    """The progress window on a long server name and a change of scale: the
    name ends in an ellipsis inside its line, and at 144 dots per inch the
    window takes the rectangle the system suggests and lays its texts out
    in the larger font."""
    q = Install(env, "progress_scale")
    q.write("prog.epg", epg())
    picture = q.path("progress.bmp")
    with socket.socket() as silent:
        silent.bind(("127.0.0.1", 0))
        silent.listen(1)
        port = silent.getsockname()[1]
        q.ini(rcpt=RCPT, smtpsvr=LONG_SERVER, smtpport=port)
        rc, boxes = q.run(["yes", 'progress "%s"' % win_path(picture), "progressdpi 144", "stopsend", "ok", "ok"],
                          ["prog.epg"])
    expect_equal("exit code", rc, 0)
    shown = progress_records(q, "progress")[0]
    expect_equal("the server line", shown["texts"][1], "サーバ: %s (ポート %d)" % (LONG_SERVER, port))
    # The line's last pixels are the ellipsis' dots: low in the line, where
    # a digit reaches up to the top of the text.
    dx, dy = shown["client"]
    (left, top, right, bottom), = [c[1:] for c in shown["controls"] if c[0] == 101]
    text = ink(read_bmp(picture), (left + dx, top + dy, right + dx, bottom + dy))
    check(text, "the server line shows nothing")
    end, low = max(x for x, _ in text), max(y for _, y in text)
    heights = {y for x, y in text if x > end - 8}
    check(heights and heights <= {low - 1, low}, "the server line does not end in an ellipsis: its last pixels "
          "are at heights %r, the line's lowest at %d" % (sorted(heights), low))
    scaled = progress_records(q, "dpi")[0]
    expect_equal("the window at 144 dots per inch", scaled["rect"], scaled["suggested"])
    expect_equal("its controls at 96 dots per inch", shown["controls"],
                 [[100, 12, 11, 338, 26], [101, 12, 33, 338, 48], [102, 12, 54, 338, 69], [103, 12, 75, 222, 90],
                  [2, 250, 83, 338, 106]])
    expect_equal("and at 144, in the larger font's units", scaled["controls"],
                 [[100, 19, 18, 531, 41], [101, 19, 50, 531, 73], [102, 19, 83, 531, 106], [103, 19, 115, 349, 138],
                  [2, 393, 128, 531, 163]])


# ---- sending through a provider ----------------------------------------------------

def mails_with(folder, token):
    found = []
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        if token in data:
            found.append(data)
    return found


PROVIDER_FAILURES = {
    "AuthRefused": "メール送信に失敗しました(認証に失敗しました)\nSMTP認証のユーザ名とパスワードを確認してください",
    "CertificateNotTrusted": "メール送信に失敗しました(証明書を信頼できません)\n"
                             "サーバの証明書が信頼された認証局のものではありません\n"
                             "自己署名の証明書なら設定で指紋(SHA-256)を登録してください",
    "CertificateNameMismatch": "メール送信に失敗しました(証明書の名前が違います)\nSMTPサーバ名を証明書にある名前で設定してください",
    "CertificateFingerprintMismatch": "メール送信に失敗しました(証明書の指紋が違います)\n"
                                      "サーバの証明書が登録した指紋(SHA-256)と一致しません\n"
                                      "証明書が更新されたなら指紋を登録し直してください",
    "TlsHandshakeFailed": "メール送信に失敗しました(暗号化の開始に失敗しました)\n"
                          "サーバがTLS 1.2以上に対応しているか、ポート番号と暗号化の方式を確認してください",
    "StartTlsNotOffered": "メール送信に失敗しました(STARTTLSに対応していません)\n"
                          "サーバが暗号化(STARTTLS)を提供していません\nポート番号と暗号化の方式を確認してください",
    "AuthNotOffered": "メール送信に失敗しました(認証に対応していません)\n"
                      "サーバがSMTP認証(PLAIN/LOGIN)を提供していません\nポート番号と暗号化の方式を確認してください",
    "PasswordInClearText": "メール送信に失敗しました(パスワードが暗号化されません)\n"
                           "暗号化(STARTTLSまたはSSL/TLS)を設定してください",
    "PasswordUnreadable": "メール送信に失敗しました(パスワードを復号できません)\n設定でパスワードを入力し直してください",
    "CertificateRevoked": "メール送信に失敗しました(証明書が失効しています)\n"
                          "サーバの証明書は発行した認証局によって失効させられています\nプロバイダに確認してください",
}


@case
def provider(env):
    """Sending through a provider's submission server (postfix with SASL):
    STARTTLS (the test CA trusted in the prefix by the fixture) and TLS from
    the first byte (the certificate pinned), the password stored protected;
    then each problem ends the send with its own box, the "E:" line and no
    mail. The log never holds the password. A certificate whose CRL cannot be
    had goes on with an "I:" line saying so; a revoked one has its box."""
    sub = submit_env()
    q = Install(env, "provider")
    q.write("prog.epg", epg())
    rc = env.wine([env.robot, "--tool", "protect", sub["SUBMIT_PASS"], "pass.txt"], q.dir, "protect")
    expect_equal("the protect tool's exit code", rc, 0)
    stored = q.read("pass.txt").decode()
    wrong = env.wine([env.robot, "--tool", "protect", sub["SUBMIT_PASS"] + "x", "wrong.txt"], q.dir, "protect2")
    expect_equal("the protect tool's exit code", wrong, 0)
    confirm = (confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "yes")
    failed = ("iEPGファイル「prog.epg」の予約に失敗しました", WARNING, "ok")
    pin = sub["SUBMIT_CERT_SHA256"]
    pin_colons = ":".join(pin[i:i + 2] for i in range(0, len(pin), 2)).lower()

    unknown = r"I:TLS revocation status unknown \(no CRL/OCSP answer\), going on\r\n"
    for ssl, port, cert in ((1, "SUBMIT_PORT_STARTTLS", ""), (2, "SUBMIT_PORT_TLS", pin_colons),
                            (2, "SUBMIT_PORT_REVOCATION_UNKNOWN", "")):
        token = "provider-%s-%d" % ("crl" if "REVOCATION" in port else ssl, os.getpid())
        q.write("MailFormat.txt", cp932(crlf("From: <%%from%%>\nTo: <%%rcpt%%>\nSubject: %s ch%%chno%%\n\nbody\n" % token)))
        q.ini(rcpt=RCPT, smtpsvr="localhost", smtpport=sub[port], logoutput=1, smtpssl=ssl,
              smtpuser=sub["SUBMIT_USER"], smtppass=stored.lower() if ssl == 2 else stored, smtpcert=cert)
        rc, boxes = q.run(["yes"], ["prog.epg"])
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [confirm])
        log = q.read("Quorpa.log").decode("cp932")
        pattern = (re.escape(LOG_START + log_input("prog.epg") + log_reserve_block())
                   + (r"I:TLS TLSv1\.[23] \S+\r\n" if ssl == 2 else "")
                   + (unknown if port == "SUBMIT_PORT_REVOCATION_UNKNOWN" else "")
                   + r"R:220 [^\r]*\r\nS:EHLO \S+\r\nR:250-[^\0]*?"
                   + (r"S:STARTTLS\r\nR:220 [^\r]*\r\nI:TLS TLSv1\.[23] \S+\r\nS:EHLO \S+\r\nR:250-[^\0]*?"
                      if ssl == 1 else "")
                   # PIPELINING and CHUNKING: AUTH PLAIN on its own, then MAIL
                   # FROM, RCPT TO, BDAT with the message and QUIT as one group,
                   # their replies after it.
                   + r"S:AUTH PLAIN \*{8}\r\nR:235 [^\r]*\r\n"
                   + r"S:MAIL FROM: <[^\r]*\r\nS:RCPT TO: <[^\r]*\r\nS:BDAT \d+ LAST\r\n"
                   + r"S:<SendMail>\r\n[^\0]*\r\nS:QUIT\r\n"
                   + r"R:250 [^\r]*\r\nR:250 [^\r]*\r\nR:250 [^\r]*\r\nR:221 [^\r]*\r\n"
                   + re.escape(LOG_END))
        if not re.fullmatch(pattern, log):
            raise Failure("unexpected log: %r" % log)
        if sub["SUBMIT_PASS"] in log:
            raise Failure("the password is in the log")
        deadline = time.time() + 10
        while not mails_with(sub["SUBMIT_SINK_DIR"], token.encode()) and time.time() < deadline:
            time.sleep(0.1)
        expect_equal("mails that arrived", len(mails_with(sub["SUBMIT_SINK_DIR"], token.encode())), 1)

    good = dict(rcpt=RCPT, smtpsvr="localhost", smtpport=sub["SUBMIT_PORT_STARTTLS"], logoutput=1, smtpssl=1,
                smtpuser=sub["SUBMIT_USER"], smtppass=stored, smtpcert=pin)
    table = [
        ("AuthRefused", dict(smtppass=q.read("wrong.txt").decode())),
        ("CertificateNotTrusted", dict(smtpport=sub["SUBMIT_PORT_UNTRUSTED"], smtpssl=2, smtpcert="")),
        ("CertificateNameMismatch", dict(smtpport=sub["SUBMIT_PORT_WRONG_NAME"], smtpssl=2, smtpcert="")),
        ("CertificateFingerprintMismatch", dict(smtpcert=sub["SUBMIT_UNTRUSTED_CERT_SHA256"])),
        ("TlsHandshakeFailed", dict(smtpport=sub["SUBMIT_PORT_OLD_TLS"], smtpssl=2)),
        ("CertificateRevoked", dict(smtpport=sub["SUBMIT_PORT_REVOKED"], smtpssl=2, smtpcert="")),
        ("StartTlsNotOffered", dict(smtpport=sub["SUBMIT_PORT_PLAIN_AUTH"])),
        ("AuthNotOffered", dict(smtpport=sub["SUBMIT_PORT_STARTTLS_NOAUTH"])),
        # 0.0.0.0 is no loopback address (and reaches nothing but this machine).
        ("PasswordInClearText", dict(smtpsvr="0.0.0.0", smtpssl=0)),
        ("PasswordUnreadable", dict(smtppass="00112233")),
    ]
    for name, change in table:
        q.ini(**dict(good, **change))
        rc, boxes = q.run(["yes", "ok", "ok"], ["prog.epg"])
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [confirm, (PROVIDER_FAILURES[name], WARNING, "ok"), failed])
        log = q.read("Quorpa.log").decode("cp932")
        if not re.fullmatch(re.escape(LOG_START + log_input("prog.epg") + log_reserve_block())
                            + r"(?:[RSI]:[^\0]*?)?" + re.escape("E:<%s> at " % name)
                            + r"mail/\w+\.cpp\(\d+\)\r\n", log):
            raise Failure("%s: unexpected log: %r" % (name, log))
        # A refused AUTH PLAIN went in one group with MAIL FROM: no message after it.
        if ("MAIL FROM" in log and name != "AuthRefused") or "S:<SendMail>" in log or sub["SUBMIT_PASS"] in log:
            raise Failure("%s: mail or password in the log: %r" % (name, log))



BAD_ADDRESS = ("メール送信に失敗しました(メールアドレスが正しくありません)\n"
               "宛先アドレスか差出人アドレスに < > や空白、改行、全角文字が含まれています\n"
               "設定でメールアドレスを半角の英数字と記号で入力し直してください")

REFUSED_SETTINGS = [
    ("UnknownEncryptionSetting", dict(smtpssl=3),
     "メール送信に失敗しました(暗号化の設定が正しくありません)\n"
     "Quorpa.iniのsmtpsslは0(なし)、1(STARTTLS)、2(SSL/TLS)のどれかです\n送信設定で暗号化を選び直してください"),
    ("CertificatePinWithoutEncryption", dict(smtpssl=0, smtpcert="AB" * 32),
     "メール送信に失敗しました(暗号化なしで証明書の指紋が設定されています)\n"
     "暗号化なしでは証明書の指紋(smtpcert)を確かめられません\n"
     "送信設定で暗号化(STARTTLSまたはSSL/TLS)を選ぶか、指紋を消してください"),
    # An address that would extend MAIL FROM, or one the server would take
    # only with SMTPUTF8.
    ("BadMailAddress", dict(mailfrom="me@example.jp> SIZE=1 BODY=8BITMIME"), BAD_ADDRESS),
    ("BadMailAddress", dict(rcpt="録画@example.jp"), BAD_ADDRESS),
]


@case
def refused_settings(env):
    """Settings that would weaken the connection without a word (an unknown
    smtpssl, a fingerprint without encryption) or split a command (an
    address with ">" or non-ASCII) send nothing: after the
    confirmation a box names the setting and the fix, then the failure box;
    no connection is made."""
    q = Install(env, "refused_settings")
    q.write("prog.epg", epg())
    confirm = (confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "yes")
    failed = ("iEPGファイル「prog.epg」の予約に失敗しました", WARNING, "ok")
    with socket.socket() as server:
        server.bind(("127.0.0.1", 0))
        server.listen(1)
        for name, change, text in REFUSED_SETTINGS:
            q.ini(**dict(dict(rcpt=RCPT, smtpport=server.getsockname()[1], logoutput=1), **change))
            rc, boxes = q.run(["yes", "ok", "ok"], ["prog.epg"])
            expect_equal("exit code", rc, 0)
            expect_boxes(boxes, [confirm, (text, WARNING, "ok"), failed])
            log = q.read("Quorpa.log").decode("cp932")
            if not re.fullmatch(re.escape(LOG_START + log_input("prog.epg") + log_reserve_block()
                                          + "E:<%s> at " % name) + r"mail/\w+\.cpp\(\d+\)\r\n", log):
                raise Failure("%s: unexpected log: %r" % (name, log))
        server.settimeout(0.2)
        try:
            server.accept()
            raise Failure("a connection was made")
        except socket.timeout:
            pass

def measure(env, runs):
    q = Install(env, "measure")
    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpsvr="127.0.0.1", smtpport=sink.port, logoutput=1)
        shutil.copy(os.path.join(env.source, "examples", "sample.epg"), q.path("sample.epg"))
        to_box, to_end = [], []
        for _ in range(runs):
            rc, boxes = q.run(["yes"], ["sample.epg"])
            records = [json.loads(line) for line in open(q.path("transcript%d.txt" % q.runs), encoding="utf-8")]
            end = [r["ms"] for r in records if "exit" in r][0]
            to_box.append(boxes[0]["ms"])
            to_end.append(end - boxes[0]["answered_ms"])
        expect_equal("mails", len(sink.mails()), runs)
    finally:
        sink.stop()
    for what, values in (("launch to confirmation box", to_box), ("Yes to end of process", to_end)):
        values.sort()
        print("%-28s min %5d  median %5d  max %5d ms  (%d runs)"
              % (what, values[0], values[len(values) // 2], values[-1], len(values)))


@case
def long_paths(env):
    """Paths near the Windows path limit (Wine starts programs whose path
    has at most 258 characters): a file name longer than the executable's
    must not overflow the 260-byte path buffer (the file counts as
    unreadable); a path that fits exactly works."""
    q = Install(env, "long_paths")
    q.write("prog.epg", epg())
    declined = [(confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "no"),
                ("予約を中止しました", INFORMATION, "ok")]
    table = [
        # (length of the executable's Windows path, boxes, log)
        # 258: Station.txt's path has 259 characters (fits), MailFormat.txt's 262
        (258, [("メールフォーマットファイルを読み込めません", WARNING, "ok")], LOG_START),
        # 256: MailFormat.txt's path has 260 characters: one byte too many
        (256, [("メールフォーマットファイルを読み込めません", WARNING, "ok")], LOG_START),
        # 255: MailFormat.txt's path has 259 characters: fits exactly
        (255, declined, LOG_START + log_input("prog.epg") + log_reserve_block() + LOG_END),
    ]
    fixed = len(win_path(q.path("x"))) - 1 + len("/Quorpa.exe")
    for length, boxes_expected, log in table:
        deep = q.path("d" * (length - fixed))
        os.makedirs(deep)
        exe = os.path.join(deep, "Quorpa.exe")
        expect_equal("the executable's path length", len(win_path(exe)), length)
        shutil.copy(env.quorpa, exe)
        for name in ("Station.txt", "MailFormat.txt"):
            shutil.copy(q.path(name), os.path.join(deep, name))
        with open(os.path.join(deep, "Quorpa.ini"), "wb") as f:
            f.write(cp932(crlf("[setting]\nrcpt=%s\nlogoutput=1\n" % RCPT)))
        rc, boxes = q.run([a for _, _, a in boxes_expected], ["prog.epg"], exe=exe)
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, boxes_expected)
        expect_equal("the log", open(os.path.join(deep, "Quorpa.log"), "rb").read(), cp932(log))


@case
def wide_paths(env):
    """Names outside code page 932 (Wine gives Linux UTF-8 names to Windows
    as UTF-16): the executable in such a folder finds its INI, tables and
    log; café.epg is opened, not its best-fit neighbour cafe.epg, and
    𠮷野.epg is found. Log and boxes show such a character as '?'."""
    q = Install(env, "wide_paths")
    sink = Sink(q.dir)
    try:
        home = q.path("é𠮷")
        os.makedirs(home)
        exe = os.path.join(home, "Quorpa.exe")
        shutil.copy(env.quorpa, exe)
        for name in ("Station.txt", "MailFormat.txt"):
            shutil.copy(q.path(name), os.path.join(home, name))
        with open(os.path.join(home, "Quorpa.ini"), "wb") as f:
            f.write(cp932(crlf("[setting]\nrcpt=%s\nsmtpport=%d\nlogoutput=1\n" % (RCPT, sink.port))))
        q.write("café.epg", epg(date="05"))
        q.write("cafe.epg", epg(date="06"))
        q.write("𠮷野.epg", epg(date="07"))
        rc, boxes = q.run(["yes", "yes"], ["café.epg", "𠮷野.epg"], exe=exe)
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [(confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "yes"),
                             (confirm_text("2004/01/07(水)", "21:00", "21:54", 8), CONFIRM, "yes")])
        expect_equal("number of mails", len(sink.mails()), 2)
        log = open(os.path.join(home, "Quorpa.log"), "rb").read().decode("cp932")
        for shown in ("caf?.epg", "??野.epg"):
            if log_input(shown) not in log:
                raise Failure("%r is not in the log: %r" % (log_input(shown), log))

        # 関連付け登録 from that folder: the shell then starts this very
        # executable for an iEPG file (an ANSI path would name "?𠮷").
        rc, boxes = q.run(["dialog Quorpa", "click 1005", "ok", "click 2", "gone"], [], exe=exe)
        expect_equal("exit code", rc, 0)
        rc, boxes = q.run(["yes"], [], open_file=q.path("café.epg"))
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [(confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "yes")])
        expect_equal("number of mails", len(sink.mails()), 3)
    finally:
        sink.stop()
        env.wine([env.robot, "--tool", "regdelete", ".epg", ".tvpi", ".tvpid", "epgfile", "Applications\\Quorpa.exe",
                  "HKLM:Software\\Quorpa", "USER:Software\\Quorpa"] + ["MIME\\Database\\Content Type\\" + t for t in MIME_TYPES],
                 q.dir, "regdelete")
        env.wine([env.robot, "--tool", "regunset", "HKLM:Software\\RegisteredApplications", "Quorpa"], q.dir,
                 "regunset")


def dialog_fields(q):
    """The settings dialog's fields as the last run's "read" commands saw them."""
    return {r["control"]: r["text"] for r in q.records if "control" in r}


READ_FIELDS = ["read 1000", "read 1001", "read 1002", "read 1003", "read 1004"]


@case
def setting_mode(env):
    """Without a file argument the settings dialog shows the values read; OK
    writes the six keys (the port's low 16 bits, logoutput 1 only when the
    log is open), Cancel writes nothing. Without an INI file the defaults
    apply and OK creates it."""
    q = Install(env, "setting_mode")

    # No INI file: defaults shown, OK creates the file with all six keys.
    rc, boxes = q.run(["dialog Quorpa"] + READ_FIELDS + ["click 1", "gone"], [])
    expect_equal("exit code", rc, 0)
    expect_boxes(boxes, [])
    expect_equal("the dialog's fields", dialog_fields(q),
                 {1000: "recorder@example.com", 1001: "127.0.0.1", 1002: "0", 1003: "0", 1004: ".epg"})
    expect_equal("the new INI file", q.read("Quorpa.ini").decode("cp932"), crlf(
        "[setting]\nrcpt=recorder@example.com\nsmtpsvr=127.0.0.1\nstartad=0\nendad=0\n"
        "smtpport=25\nlogoutput=0\n"))
    expect_log(q, None)

    # Values of the INI file reach the dialog; OK writes them back, with the
    # port cut to 16 bits and a log switch other than 1 as 0.
    q.ini(rcpt=RCPT, smtpsvr="localhost", startad=-5, endad=10, smtpport=70000, logoutput=2)
    rc, boxes = q.run(["dialog Quorpa"] + READ_FIELDS + ["click 1", "gone"], [])
    expect_equal("exit code", rc, 0)
    expect_equal("the dialog's fields", dialog_fields(q),
                 {1000: RCPT, 1001: "localhost", 1002: "-5", 1003: "10", 1004: ".epg"})
    expect_equal("the INI file", q.read("Quorpa.ini").decode("cp932"), crlf(
        "[setting]\nrcpt=%s\nsmtpsvr=localhost\nstartad=-5\nendad=10\nsmtpport=4464\nlogoutput=0\n" % RCPT))
    expect_log(q, None)

    # Log on, Cancel: nothing written, the three log lines.
    # An empty value is the empty text, not the default.
    q.ini(rcpt="", smtpport=2525, logoutput=1)
    before = q.read("Quorpa.ini")
    rc, boxes = q.run(["dialog Quorpa", "read 1000", "type 1000 other@example.com", "click 2", "gone"], [])
    expect_equal("exit code", rc, 0)
    expect_equal("the dialog's recipient", dialog_fields(q), {1000: ""})
    expect_equal("the INI file after Cancel", q.read("Quorpa.ini"), before)
    expect_log(q, "I:AplicationInitCompleted\r\nI:SettingMode\r\nI:AplicationTerminated\r\n")

    # Log on, an edited recipient, OK: saved, logoutput stays 1.
    rc, boxes = q.run(["dialog Quorpa", "type 1000 other@example.com", "type 1002 60", "click 1", "gone"], [])
    expect_equal("exit code", rc, 0)
    expect_equal("the INI file", q.read("Quorpa.ini").decode("cp932"), crlf(
        "[setting]\nrcpt=other@example.com\nsmtpport=2525\nlogoutput=1\nsmtpsvr=127.0.0.1\n"
        "startad=60\nendad=0\n"))
    expect_log(q, "I:AplicationInitCompleted\r\nI:SettingMode\r\nI:SaveSetting\r\nI:AplicationTerminated\r\n")


def release_package(env, q):
    """Runs scripts/release into q's dist folder; returns that folder and
    the zip package's name."""
    dist = q.path("dist")
    with open(q.path("release.out"), "wb") as out:
        rc = subprocess.call([os.path.join(env.source, "scripts", "release"), "--exe", env.quorpa, dist],
                             stdout=out, stderr=subprocess.STDOUT)
    expect_equal("scripts/release's exit code", rc, 0)
    (package,) = [n for n in os.listdir(dist) if n.endswith("-win64.zip")]
    return dist, package


@case
def user_story(env):
    """A user's whole way, in a fresh Wine prefix: unzip the release package
    into a folder with blanks and Japanese in its path, register in setting
    mode, open a downloaded iEPG file with a Japanese name the way a browser
    does (the shell's "open" on the file), answer Yes, get the mail; then
    unregister, after which the shell no longer starts Quorpa for the file."""
    story = Env(env.source, env.build)
    q = Install(story, "user_story")
    story.prefix = q.path("wineprefix")  # fresh: made by the first Wine call
    sink = Sink(q.dir)
    try:
        dist, package = release_package(env, q)
        digest = hashlib.sha256(open(os.path.join(dist, package), "rb").read()).hexdigest()
        expect_equal("the .sha256 file", open(os.path.join(dist, package + ".sha256")).read(),
                     "%s  %s\n" % (digest, package))
        folder = q.path(os.path.join("My Programs", "録画 予約"))
        with zipfile.ZipFile(os.path.join(dist, package)) as z:
            expect_equal("the package's files", sorted(z.namelist()), sorted(
                ["Quorpa.exe", "Station.txt", "MailFormat.txt", "はじめにお読みください.txt", "LICENSE.txt"]))
            z.extractall(folder)
        exe = os.path.join(folder, "Quorpa.exe")
        with open(os.path.join(folder, "Quorpa.ini"), "wb") as f:
            f.write(cp932(crlf("[setting]\nsmtpport=%d\n" % sink.port)))

        # Setting mode: the user's address and server, 関連付け登録 with the
        # dialog's defaults, OK.
        rc, boxes = q.run(["dialog Quorpa", "type 1000 " + RCPT, "type 1001 127.0.0.1", "click 1005", "ok",
                           "click 1", "gone"], [], exe=exe)
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [(REGISTERED, INFORMATION, "ok")])

        # The downloads as browsers save them today (.tvpid, .tvpi) and the
        # extension of the dialog (.epg); each opens Quorpa. (The files are
        # of the first version: the shell's part is what this shows.)
        downloads = q.path("Downloads")
        os.makedirs(downloads)
        stories = [("月曜ドラマ 第1話.tvpid", "05", "2004/01/05(月)", "0155068"),
                   ("月曜ドラマ 第2話.tvpi", "12", "2004/01/12(月)", "015c068"),
                   ("月曜ドラマ 第3話.epg", "19", "2004/01/19(月)", "01513068")]
        for number, (name, date, shown, msid) in enumerate(stories, 1):
            download = os.path.join(downloads, name)
            with open(download, "wb") as f:
                f.write(epg(date=date))
            rc, boxes = q.run(["yes"], [], open_file=download)
            expect_equal("exit code", rc, 0)
            expect_boxes(boxes, [(confirm_text(shown, "21:00", "21:54", 8), CONFIRM, "yes")])
            mails = sink.mails()
            expect_equal("number of mails", len(mails), number)
            check_mail(q, mails[-1], (2004, 1, int(date), 21, 0), (2004, 1, int(date), 21, 54), 8, msid)

        # 関連付け解除, confirmed; then the shell finds no program for the file.
        rc, boxes = q.run(["dialog Quorpa", "click 1010", "yes", "ok", "click 2", "gone"], [], exe=exe)
        expect_equal("exit code", rc, 0)
        expect_equal("boxes of the unregistration", [b["icon"] for b in boxes], ["question", "information"])
        for ext in (".epg", ".tvpi", ".tvpid"):
            if "%s\\%s\n" % (MACHINE, ext) not in boxes[1]["text"]:
                raise Failure("the report does not name %s: %r" % (ext, boxes[1]["text"]))
        for name, _, _, _ in stories:
            try:
                q.run([], [], open_file=os.path.join(downloads, name))
                started = True
            except Failure as e:
                if "no program started" not in str(e):
                    raise
                started = False
            if started:
                raise Failure("the shell still started a program for %s" % name)
        expect_equal("number of mails at the end", len(sink.mails()), 3)
    finally:
        sink.stop()
        # The prefix takes some 700 MB: stop its server and remove it.
        for option in ("-k", "-w"):
            subprocess.call(["wineserver", option], env=dict(os.environ, WINEPREFIX=story.prefix),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(story.prefix, ignore_errors=True)


# ---- main ------------------------------------------------------------------------

class Env:
    def __init__(self, source, build):
        self.source = os.path.abspath(source)
        self.build = os.path.abspath(build)
        self.prefix = os.path.join(self.build, "wineprefix")
        self.quorpa = os.path.join(self.build, "Quorpa.exe")
        self.robot = os.path.join(self.build, "robot.exe")

    def wine(self, args, cwd, name, winedebug=None):
        """Runs a Windows program in this Env's prefix, in folder cwd; its
        output goes to cwd/name.out."""
        environ = dict(os.environ, WINEDEBUG=winedebug) if winedebug else None
        with open(os.path.join(cwd, name + ".out"), "wb") as out:
            return wine(self.source, self.prefix, args, out, RUN_TIMEOUT_S, environ, cwd)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--source")
    parser.add_argument("--build")
    parser.add_argument("--case")
    parser.add_argument("--measure", type=int)
    a = parser.parse_args()
    if a.list:
        print(";".join(CASES))
        return 0
    if not os.environ.get("DISPLAY"):
        print("SKIP: no display (run under scripts/with-xvfb)")
        return SKIP
    env = Env(a.source, a.build)
    if a.measure:
        return run_case("measure", measure, env, a.measure)
    return run_case(a.case, CASES[a.case], env)


if __name__ == "__main__":
    sys.exit(main())
