#!/usr/bin/env python3
"""End-to-end cases of what a real Windows PC can have and Wine normally
hides, on run.py's helpers: a system library that cannot be loaded (a
damaged installation), and a library planted beside Quorpa.exe (a
Downloads folder).

Wine takes a library as its per-program DLL override says
(HKCU\\Software\\Wine\\AppDefaults\\Quorpa.exe\\DllOverrides): an empty value
makes it fail to load, "native,builtin" makes Wine look for a file first,
in Windows' search order, as Windows looks for a library that is no
KnownDLL. The override names Quorpa.exe only: the robot, which imports
crypt32 itself, is untouched.

    realpc.py --list
    realpc.py --source SRC --build BUILD --case NAME
"""
import os
import re
import shutil
import sys
import time

import run
from run import (CONFIRM, LOG_END, LOG_START, RCPT, WARNING, Failure, Install, Sink, confirm_text, cp932, crlf,
                 epg, expect_boxes, expect_equal, log_input, log_reserve_block, mails_with, submit_env)

OWN = []


def case(fn):
    OWN.append(fn.__name__)
    return run.case(fn)


OVERRIDES = "HKCU\\Software\\Wine\\AppDefaults\\%s\\DllOverrides"
CONFIRMED = (confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "yes")
FAILED = ("iEPGファイル「prog.epg」の予約に失敗しました", WARNING, "ok")
MISSING = ("メール送信に失敗しました(Windowsのシステムファイルを読み込めません)\n"
           "暗号化またはパスワードに使うWindowsのファイルが見つからないか壊れています\n"
           "Windowsのシステムファイルを修復してください")


def overrides(q, exe, libraries):
    """Sets the program's DLL overrides (replacing any earlier ones);
    libraries: {name: "" (unavailable) or "native,builtin"}."""
    clear_overrides(q, exe)
    for name, value in libraries.items():
        rc = q.env.wine(["reg", "add", OVERRIDES % exe, "/v", name, "/d", value, "/f"], q.dir, "override-" + name)
        expect_equal("reg add's exit code", rc, 0)


def clear_overrides(q, exe):
    q.env.wine(["reg", "delete", "HKCU\\Software\\Wine\\AppDefaults\\%s" % exe, "/f"], q.dir, "override-clear")


def expect_failure_log(q, library):
    """The run's log up to the send, some dialogue, then the failure's line.
    The file is named from the source's top, or with "../" before it in a
    build whose compiler is given relative paths (ccache's base_dir)."""
    log = q.read("Quorpa.log").decode("cp932")
    pattern = (re.escape(LOG_START + log_input("prog.epg") + log_reserve_block()) + r"(?:[RSI]:[^\0]*?)?"
               + re.escape("E:<SystemLibraryMissing(%s)> at " % library)
               + r"(?:\.\./)*platform/win32/libraries\.cpp\(\d+\)\r\n")
    if not re.fullmatch(pattern, log):
        raise Failure("unexpected log: %r" % log)


def expect_history_failed(q, library):
    lines = q.read("Quorpa.history").decode("cp932").split("\r\n")[:-1]
    expect_equal("the history's outcome and reason", [line.split("\t")[6:8] for line in lines],
                 [["failed", "SystemLibraryMissing(%s)" % library]])


def provider_install(env, name, sub):
    """A folder whose settings send by STARTTLS through the submission
    server, the certificate pinned and the password stored protected."""
    q = Install(env, name)
    q.write("prog.epg", epg())
    rc = env.wine([env.robot, "--tool", "protect", sub["SUBMIT_PASS"], "pass.txt"], q.dir, "protect")
    expect_equal("the protect tool's exit code", rc, 0)
    q.ini(rcpt=RCPT, smtpsvr="localhost", smtpport=sub["SUBMIT_PORT_STARTTLS"], logoutput=1, smtpssl=1,
          smtpuser=sub["SUBMIT_USER"], smtppass=q.read("pass.txt").decode(), smtpcert=sub["SUBMIT_CERT_SHA256"])
    return q


@case
def library_missing_tls(env):
    """SChannel (secur32) cannot be loaded at a STARTTLS send: the send
    fails with the program's own box and "E:" line, the history keeps the
    reservation as failed, the run ends normally (no crash, no silent
    wait). Wine without a mending hook ends the process with the delay-load
    helper's exception 0xc06d007e instead."""
    sub = submit_env()
    q = provider_install(env, "library_missing_tls", sub)
    try:
        overrides(q, "Quorpa.exe", {"secur32": ""})
        rc, boxes = q.run(["yes", "ok", "ok"], ["prog.epg"])
    finally:
        clear_overrides(q, "Quorpa.exe")
    expect_equal("exit code", rc, 0)
    expect_boxes(boxes, [CONFIRMED, (MISSING, WARNING, "ok"), FAILED])
    expect_failure_log(q, "secur32.dll")
    if "S:STARTTLS\r\nR:220 " not in q.read("Quorpa.log").decode("cp932"):
        raise Failure("the failure came before STARTTLS was accepted")
    expect_history_failed(q, "secur32.dll")


@case
def library_missing_password(env):
    """The certificate and DPAPI library (crypt32) cannot be loaded when the
    stored password is decrypted: the send fails with the program's own box
    and "E:" line before a byte goes out, and so does the connection test of
    the mail account dialog, on its own thread."""
    q = Install(env, "library_missing_password")
    q.write("prog.epg", epg())
    sink = Sink(q.dir)
    try:
        # A stored password for a loopback server without encryption: no
        # TLS, so crypt32's first use is the decryption.
        q.ini(rcpt=RCPT, smtpsvr="127.0.0.1", smtpport=sink.port, logoutput=1, smtpssl=0, smtpuser="user",
              smtppass="00112233")
        overrides(q, "Quorpa.exe", {"crypt32": ""})
        rc, boxes = q.run(["yes", "ok", "ok"], ["prog.epg"])
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [CONFIRMED, (MISSING, WARNING, "ok"), FAILED])
        expect_failure_log(q, "crypt32.dll")
        expect_history_failed(q, "crypt32.dll")
        expect_equal("mails", len(sink.mails()), 0)

        rc, boxes = q.run(["dialog Quorpa", "click 1011", "dialog 送信設定", "click 1029", "ok", "click 2", "gone",
                           "dialog Quorpa", "click 2", "gone"], [])
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [(MISSING, WARNING, "ok")])
        log = q.read("Quorpa.log").decode("cp932")
        if not re.search(r"E:<SystemLibraryMissing\(crypt32\.dll\)> at (?:\.\./)*platform/win32/libraries\.cpp"
                         r"\(\d+\)\r\n", log):
            raise Failure("the connection test's line is not in the log: %r" % log)
    finally:
        clear_overrides(q, "Quorpa.exe")
        sink.stop()


@case
def planted_library(env):
    """A secur32.dll and a crypt32.dll beside Quorpa.exe, with Wine looking
    for files first as Windows does for them: a STARTTLS send with a stored
    password goes out, and neither planted library was loaded. The planted
    library marks a process that loads it (rundll32 on it, the same
    override: the mark appears)."""
    sub = submit_env()
    q = provider_install(env, "planted_library", sub)
    planted = os.path.join(env.build, "planted.dll")
    for name in ("secur32.dll", "crypt32.dll"):
        shutil.copy(planted, q.path(name))
    token = "planted-%d" % os.getpid()
    q.write("MailFormat.txt", cp932(crlf("From: <%%from%%>\nTo: <%%rcpt%%>\nSubject: %s ch%%chno%%\n\nbody\n" % token)))
    native = {"secur32": "native,builtin", "crypt32": "native,builtin"}
    try:
        overrides(q, "Quorpa.exe", native)
        rc, boxes = q.run(["yes"], ["prog.epg"])
    finally:
        clear_overrides(q, "Quorpa.exe")
    expect_equal("exit code", rc, 0)
    expect_boxes(boxes, [CONFIRMED])
    if not re.search(r"S:STARTTLS\r\nR:220 [^\r]*\r\nI:TLS TLSv1\.[23] ", q.read("Quorpa.log").decode("cp932")):
        raise Failure("no STARTTLS in the log: %r" % q.read("Quorpa.log"))
    deadline = time.time() + 10
    while not mails_with(sub["SUBMIT_SINK_DIR"], token.encode()) and time.time() < deadline:
        time.sleep(0.1)
    expect_equal("mails that arrived", len(mails_with(sub["SUBMIT_SINK_DIR"], token.encode())), 1)
    expect_equal("planted libraries loaded", [n for n in ("secur32.dll", "crypt32.dll")
                                              if os.path.exists(q.path(n + ".loaded"))], [])

    # The control: the same file, loaded by a program that asks for it.
    os.makedirs(q.path("control"))
    shutil.copy(planted, q.path("control/secur32.dll"))
    try:
        overrides(q, "rundll32.exe", native)
        q.env.wine(["rundll32.exe", run.win_path(q.path("control/secur32.dll")) + ",Mark"], q.dir, "control")
    finally:
        clear_overrides(q, "rundll32.exe")
    if not os.path.exists(q.path("control/secur32.dll.loaded")):
        raise Failure("the planted library left no mark when loaded: the case proves nothing")


if __name__ == "__main__":
    if "--list" in sys.argv:
        print(";".join(OWN))
        sys.exit(0)
    sys.exit(run.main())
