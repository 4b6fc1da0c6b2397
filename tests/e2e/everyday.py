#!/usr/bin/env python3
"""End-to-end cases of everyday use under Wine, on run.py's helpers: the
sender address a provider demands, the programme's title in the mail, the
notice of a sent reservation, the question before a second booking of the
same programme, the log kept across runs.

    everyday.py --list
    everyday.py --source SRC --build BUILD --case NAME
"""
import datetime
import email
import email.header
import os
import re
import sys
import time

import run  # puts tests/support (harness) on the path
from harness import CONFIRM, INFORMATION, WARNING, Failure, cp932, crlf, expect_equal, submit_env
from run import RCPT, Install, Sink, confirm_text, epg, expect_boxes

OWN = []


def case(fn):
    OWN.append(fn.__name__)
    return run.case(fn)


CONFIRM_SAMPLE = (confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "yes")
FAILED = ("iEPGファイル「prog.epg」の予約に失敗しました", WARNING, "ok")
SENDER_REFUSED = ("メール送信に失敗しました(差出人アドレスが拒否されました)\n"
                  "プロバイダのサーバがこの差出人アドレスからの送信を受け付けません\n"
                  "送信設定の差出人アドレスに、メールアカウントのアドレスを設定してください")


def wait_mails(folder, token, seconds=10):
    deadline = time.time() + seconds
    while True:
        found = run.mails_with(folder, token)
        if found or time.time() > deadline:
            return found
        time.sleep(0.1)


@case
def sender_address(env):
    """A provider that takes only the account's own address as the sender
    (postfix's sender/login match): with 差出人アドレス set the mail goes
    out from that address; without it the recorder's address is refused and
    the box points at 差出人アドレス. The connection test says the same."""
    sub = submit_env()
    q = Install(env, "sender_address")
    q.write("prog.epg", epg())
    expect_equal("the protect tool's exit code",
                 env.wine([env.robot, "--tool", "protect", sub["SUBMIT_PASS"], "pass.txt"], q.dir, "protect"), 0)
    account = dict(rcpt=RCPT, smtpsvr="localhost", smtpport=sub["SUBMIT_PORT_SENDER_LOGIN"], smtpssl=1,
                   smtpuser=sub["SUBMIT_USER"], smtppass=q.read("pass.txt").decode(), logoutput=1)
    token = "sender-%d" % os.getpid()
    q.write("MailFormat.txt", cp932(crlf("From: <%%from%%>\nTo: <%%rcpt%%>\nSubject: %s\n\nbody\n" % token)))

    q.ini(mailfrom=sub["SUBMIT_SENDER"], **account)
    rc, boxes = q.run(["yes"], ["prog.epg"])
    expect_boxes(boxes, [CONFIRM_SAMPLE])
    mails = wait_mails(sub["SUBMIT_SINK_DIR"], token.encode())
    expect_equal("mails that arrived", len(mails), 1)
    if b"From: <%s>" % sub["SUBMIT_SENDER"].encode() not in mails[0]:
        raise Failure("the sender is not in the mail: %r" % mails[0])
    # MAIL FROM goes in one group with RCPT TO and BDAT once the sign-in is
    # known; its reply is the first of the group's.
    if not re.search(r"R:235 [^\r]*\r\nS:MAIL FROM: <%s>\r\nS:RCPT TO: <[^\r]*>\r\nS:BDAT \d+ LAST\r\n"
                     r"S:<SendMail>\r\n[^\0]*?\r\nS:QUIT\r\nR:250 "
                     % re.escape(sub["SUBMIT_SENDER"]), q.read("Quorpa.log").decode("cp932")):
        raise Failure("MAIL FROM is not the sender: %r" % q.read("Quorpa.log"))

    q.ini(**account)
    rc, boxes = q.run(["yes", "ok", "ok"], ["prog.epg"])
    expect_boxes(boxes, [CONFIRM_SAMPLE, (SENDER_REFUSED, WARNING, "ok"), FAILED])
    if not re.search(r"R:235 [^\r]*\r\nS:MAIL FROM: <[^\r]*>\r\nS:RCPT TO: <%s>\r\nS:BDAT \d+ LAST\r\n"
                     r"S:<SendMail>\r\n[^\0]*?\r\nS:QUIT\r\n"
                     r"R:250 [^\r]*\r\nR:553 [^\r]*Sender address rejected[^\r]*\r\nR:[^\r]*\r\nE:SMTP error!\r\n"
                     % re.escape(RCPT), q.read("Quorpa.log").decode("cp932")):
        raise Failure("unexpected log: %r" % q.read("Quorpa.log"))
    expect_equal("mails that arrived", len(run.mails_with(sub["SUBMIT_SINK_DIR"], token.encode())), 1)

    # The connection test with the recorder's address, then the account's,
    # which both OKs save.
    rc, boxes = q.run(["dialog Quorpa", "click 1011", "dialog 送信設定", "type 1030 " + RCPT, "click 1029", "ok",
                       "type 1030 " + sub["SUBMIT_SENDER"], "click 1029", "ok", "click 1", "gone",
                       "dialog Quorpa", "click 1", "gone"], [])
    got = [(b["text"], b["flags"]) for b in boxes]
    expect_equal("the connection test's first box", got[0], (SENDER_REFUSED, WARNING))
    if not got[1][0].startswith("接続テストに成功しました"):
        raise Failure("the connection test with the account's address: %r" % got[1:])
    if not q.read("Quorpa.ini").decode("cp932").endswith("\r\nmailfrom=%s\r\n" % sub["SUBMIT_SENDER"]):
        raise Failure("差出人アドレス not saved: %r" % q.read("Quorpa.ini"))


@case
def programme_placeholders(env):
    """%titl% and %stat%: in the header as RFC 2047 encoded words (7-bit on
    the wire, decoded back to the file's text), in the body as they are;
    absent from the file, empty."""
    q = Install(env, "programme_placeholders")
    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpport=sink.port)
        q.write("MailFormat.txt", cp932(crlf("From: <%from%>\nSubject: Rec %titl% on %stat% ch%chno%\n"
                                             "X-Station: %stat%\n\n[%titl%]\n[%stat%]\n")))
        title = "ドラマ特別編「長い長い番組の題名が続きます」第1話 Part 2"  # over one encoded word
        q.write("a.epg", epg(title=title))
        q.write("b.epg", epg().replace(b"program-title:", b"x-title:"))
        rc, boxes = q.run(["yes", "yes"], ["a.epg", "b.epg"])
        expect_boxes(boxes, [CONFIRM_SAMPLE] * 2)
        mails = sink.mails()
        expect_equal("number of mails", len(mails), 2)
        for mail, want in zip(mails, (title, "")):
            message = email.message_from_bytes(mail)
            head, _, body = mail.partition(b"\n\n")
            if not all(b < 0x80 for b in head):
                raise Failure("8-bit bytes in the header: %r" % head)
            subject = str(email.header.make_header(email.header.decode_header(message["Subject"])))
            expect_equal("the subject, decoded", subject, "Rec %s on フジテレビ ch8" % want if want else
                         "Rec  on フジテレビ ch8")
            # smtp-sink stores LF line ends and adds empty lines at the end.
            expect_equal("the body", body.rstrip(b"\n"), cp932("[%s]\n[フジテレビ]" % want))
            words = re.findall(r"=\?Shift_JIS\?B\?[^?]*\?=", head.decode())
            if want and (len(words) < 3 or max(map(len, words)) > 75):
                raise Failure("encoded words: %r" % words)
    finally:
        sink.stop()


@case
def hostile_titles(env):
    """Titles a web page chooses: bare CRs that would end the data early, the
    program's own placeholders, an encoded-word look-alike, 1 MB. Each file
    makes one mail whose data has CR LF line ends only; the subject gives
    back the file's text (its first 1 KB), the body has blanks for the
    control characters, and the cut is in the log."""
    q = Install(env, "hostile_titles")
    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpport=sink.port, logoutput=1)
        q.write("MailFormat.txt", cp932(crlf("From: <%from%>\nSubject: %titl%\n\n[%titl%]\n")))
        smuggled = "News\r.\rMAIL FROM:<x@evil.example>\rRCPT TO:<victim@example.com>\rDATA\r."
        table = [  # the title as the file has it, the subject decoded, the body
            (smuggled, smuggled, "[News . MAIL FROM:<x@evil.example> RCPT TO:<victim@example.com> DATA .]"),
            ("%stat% %msid% %chno%", "%stat% %msid% %chno%", "[%stat% %msid% %chno%]"),
            ("=?UTF-8?B?44CQ6YeN6KaB44CR?=", "=?UTF-8?B?44CQ6YeN6KaB44CR?=", "[=?UTF-8?B?44CQ6YeN6KaB44CR?=]"),
            # Its 1 KB in the body: a line broken at 998 bytes.
            ("x" * (1 << 20), "x" * 1024, "[%s\n%s]" % ("x" * 997, "x" * 27)),
        ]
        names = []
        for i, (title, _, _) in enumerate(table):
            names.append("t%d.epg" % i)
            q.write(names[-1], epg().replace("月曜ドラマ".encode("cp932"), title.encode("cp932")))
        started = time.time()
        rc, boxes = q.run(["yes"] * len(table), names)
        expect_boxes(boxes, [CONFIRM_SAMPLE] * len(table))
        if time.time() - started > 60:
            raise Failure("four reservations took %.0f s" % (time.time() - started))
        mails = sink.mails()
        expect_equal("number of mails", len(mails), len(table))
        for mail, (_, subject, body) in zip(mails, table):
            message = email.message_from_bytes(mail)
            decoded = str(email.header.make_header(email.header.decode_header(message["Subject"])))
            expect_equal("the subject, decoded", decoded, subject)
            expect_equal("the body", mail.partition(b"\n\n")[2].rstrip(b"\n"), cp932(body))
        log = q.read("Quorpa.log")
        for data in re.findall(rb"S:<SendMail>\r\n(.*?\r\n\.\r\n)R:", log, re.S):
            if re.search(rb"\r(?!\n)|(?<!\r)\n", data):
                raise Failure("a bare CR or LF after DATA: %r" % data[:200])
        if b"I:program-title of 1048576 bytes cut to 1024\r\n" not in log:
            raise Failure("the cut is not in the log")
    finally:
        sink.stop()


def duplicate_text(sent, earlier):
    """The question about a programme sent before: when (sent, a match of a
    history line's time), and the earlier programme as reserved."""
    return ("この番組は %d/%d %s:%s に予約メールを送信済みです。\n送信済み: %s\nもう一度送信しますか？"
            % (int(sent.group(2)), int(sent.group(3)), sent.group(4), sent.group(5), earlier))


def weekday(year, month, day):
    return "月火水木金土日"[datetime.date(year, month, day).weekday()]


@case
def duplicate_question(env):
    """A programme still to come that was sent before: the question first,
    No the default; No ends as the confirmation's No, Yes goes on to the
    confirmation. The history keeps one line per send; a history that
    cannot be written does not fail the send, the log says so."""
    q = Install(env, "duplicate_question")
    sink = Sink(q.dir)
    try:
        year = time.localtime().tm_year + 1
        q.ini(rcpt=RCPT, smtpport=sink.port, logoutput=1)
        q.write("prog.epg", epg(year=str(year)))
        confirm = (confirm_text("%d/01/05(%s)" % (year, weekday(year, 1, 5)), "21:00", "21:54", 8), CONFIRM, "yes")
        rc, boxes = q.run(["yes"], ["prog.epg"])
        expect_boxes(boxes, [confirm])
        lines = q.read("Quorpa.history").decode("cp932").split("\r\n")
        expect_equal("history lines", len(lines), 2)
        # The send's identity and the programme as the file gave it follow.
        sent = re.fullmatch(r"(\d{4})/(\d\d)/(\d\d) (\d\d):(\d\d):\d\d\t8\t%d/01/05 21:00\t%d/01/05 21:54\t"
                            r"フジテレビ\t月曜ドラマ\tsent\t\t\*id=[0-9a-f]+-[0-9a-f]+-[0-9a-f]+"
                            r"\*from=%d/01/05 21:00\*to=%d/01/05 21:54" % (year, year, year, year), lines[0])
        if not sent:
            raise Failure("unexpected history line: %r" % lines[0])
        question = duplicate_text(sent, "月曜ドラマ %d/01/05 21:00～21:54" % year)
        rc, boxes = q.run(["no", "ok"], ["prog.epg"])
        expect_boxes(boxes, [(question, CONFIRM, "no"), ("予約を中止しました", INFORMATION, "ok")])
        expect_equal("the question's default button", boxes[0]["default"], "no")
        if "S:" in q.read("Quorpa.log").decode("cp932"):
            raise Failure("something was sent: %r" % q.read("Quorpa.log"))
        rc, boxes = q.run(["yes", "yes"], ["prog.epg"])
        expect_boxes(boxes, [(question, CONFIRM, "yes"), confirm])
        expect_equal("mails", len(sink.mails()), 2)
        expect_equal("history lines", len(q.read("Quorpa.history").split(b"\r\n")), 3)

        os.remove(q.path("Quorpa.history"))
        os.makedirs(q.path("Quorpa.history"))  # cannot be read or replaced
        rc, boxes = q.run(["yes"], ["prog.epg"])
        expect_boxes(boxes, [confirm])
        expect_equal("mails", len(sink.mails()), 3)
        if not q.read("Quorpa.log").decode("cp932").endswith("E:HistoryNotWritten\r\nI:AplicationTerminated\r\n"):
            raise Failure("the log does not say so: %r" % q.read("Quorpa.log"))
    finally:
        sink.stop()


@case
def reused_program_id(env):
    """A site that gives a later programme the program-id of one sent before:
    the later one is only confirmed. The same programme again is asked
    about, the question naming the earlier one."""
    q = Install(env, "reused_program_id")
    sink = Sink(q.dir)
    try:
        year = time.localtime().tm_year + 1
        q.ini(rcpt=RCPT, smtpport=sink.port, logoutput=1)
        q.write("a.epg", epg(year=str(year), extra="program-id: 1234"))
        q.write("b.epg", epg(year=str(year), month="02", date="15", title="別の番組", extra="program-id: 1234"))
        confirm_a = (confirm_text("%d/01/05(%s)" % (year, weekday(year, 1, 5)), "21:00", "21:54", 8), CONFIRM, "yes")
        confirm_b = (confirm_text("%d/02/15(%s)" % (year, weekday(year, 2, 15)), "21:00", "21:54", 8), CONFIRM, "yes")
        rc, boxes = q.run(["yes", "yes"], ["a.epg", "b.epg"])
        expect_boxes(boxes, [confirm_a, confirm_b])
        expect_equal("mails", len(sink.mails()), 2)
        line = q.read("Quorpa.history").decode("cp932").split("\r\n")[0]
        sent = re.match(r"(\d{4})/(\d\d)/(\d\d) (\d\d):(\d\d)", line)
        question = duplicate_text(sent, "月曜ドラマ %d/01/05 21:00～21:54" % year)
        rc, boxes = q.run(["no", "ok"], ["a.epg"])
        expect_boxes(boxes, [(question, CONFIRM, "no"), ("予約を中止しました", INFORMATION, "ok")])
        expect_equal("the question's default button", boxes[0]["default"], "no")
        expect_equal("mails", len(sink.mails()), 2)
    finally:
        sink.stop()


@case
def long_mail_lines(env):
    """A 1 KB title and a 1 KB station-name on one line of the template's
    body: no line of the mail passes 998 bytes, each broken between two
    characters, the text whole when the breaks are taken out; the log says
    so."""
    q = Install(env, "long_mail_lines")
    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpport=sink.port, logoutput=1)
        q.write("MailFormat.txt", cp932(crlf("From: <%from%>\nSubject: long\n\n番組: %titl% %stat%\n")))
        title, name = "題" * 600, "局" * 600
        q.write("long.tvpid", cp932(crlf(
            "Content-type: application/x-tv-program-digital-info; charset=shift_jis\nversion: 2\n"
            "station: DFS00420\nstation-name: %s\nyear: 2004\nmonth: 01\ndate: 05\nstart: 21:00\nend: 21:54\n"
            "program-title: %s\n" % (name, title))))
        rc, boxes = q.run(["yes"], ["long.tvpid"])
        expect_boxes(boxes, [CONFIRM_SAMPLE])
        (mail,) = sink.mails()
        lines = mail.partition(b"\n\n")[2].rstrip(b"\n").split(b"\n")
        expect_equal("the body's lines", lines, [cp932("番組: " + "題" * 496), cp932("題" * 16 + " " + "局" * 482),
                                                 cp932("局" * 30)])
        log = q.read("Quorpa.log")
        for data in re.findall(rb"S:<SendMail>\r\n(.*?\r\n\.\r\n)R:", log, re.S):
            if max(len(line) for line in data.split(b"\r\n")) > 998:
                raise Failure("a line over 998 bytes after DATA")
        for said in (b"I:program-title of 1200 bytes cut to 1024\r\n", b"I:station of 1200 bytes cut to 1024\r\n",
                     b"I:Mail lines over 998 bytes broken: 1\r\n"):
            if said not in log:
                raise Failure("the log does not say %r" % said)
    finally:
        sink.stop()


@case
def nul_ends_the_file(env):
    """A NUL byte ends a file's text: the line before it is never glued to
    the line after it. "station: フジテレビ", a NUL and the year's line after
    it leave a file without its year, which fails without a box of its own;
    a NUL after the keys changes nothing."""
    q = Install(env, "nul_ends_the_file")
    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpport=sink.port, logoutput=1)
        q.write("cut.epg", epg().replace(b"\r\nyear:", b"\0 x\r\nyear:"))
        q.write("tail.epg", epg() + b"\0\r\nstation: NHK\r\n")
        rc, boxes = q.run(["ok"], ["cut.epg"])
        expect_boxes(boxes, [("iEPGファイル「cut.epg」の予約に失敗しました", WARNING, "ok")])
        if "I:Station=" in q.read("Quorpa.log").decode("cp932"):
            raise Failure("a station was read: %r" % q.read("Quorpa.log"))
        rc, boxes = q.run(["yes"], ["tail.epg"])
        expect_boxes(boxes, [CONFIRM_SAMPLE])
        expect_equal("mails", len(sink.mails()), 1)
    finally:
        sink.stop()


@case
def notice(env):
    """送信完了を表示する (notify=1): the progress window comes at once and,
    after the send, says so with the station, channel and times for about
    3 seconds, or until closed, never taking the focus. A failed send shows
    no notice; without the key nothing changes (the other cases)."""
    q = Install(env, "notice")
    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpport=sink.port, notify=1)
        q.write("prog.epg", epg())
        heading = "予約メールを送信しました"
        texts = [heading, "フジテレビ  8チャンネル", "2004/01/05(月) 21:00～21:54", "", "閉じる"]
        for close, shortest, longest in ((False, 2500, 6000), (True, 0, 1500)):
            rc, boxes = q.run(["yes", "notice %s%s" % (heading, " close" if close else "")], ["prog.epg"])
            expect_boxes(boxes, [CONFIRM_SAMPLE])
            (shown,) = [r for r in q.records if "notice" in r]
            expect_equal("the notice", (shown["notice"], shown["texts"], shown["active"]), ("Quorpa", texts, False))
            stayed = shown["gone_ms"] - shown["ms"]
            if not shortest <= stayed <= longest:
                raise Failure("the notice stayed %d ms" % stayed)
        expect_equal("mails", len(sink.mails()), 2)
    finally:
        sink.stop()
    rc, boxes = q.run(["yes", "ok", "ok"], ["prog.epg"])  # nothing listens any more
    expect_equal("boxes of a failed send", [b["text"] for b in boxes][1:],
                 ["メール送信に失敗しました(ソケットエラー)", "iEPGファイル「prog.epg」の予約に失敗しました"])
    if any("notice" in r for r in q.records):
        raise Failure("a notice after a failed send")


@case
def log_kept(env):
    """The previous run's log stays as Quorpa.old.log, so opening the
    settings dialog after a failure keeps the failure's log; the check boxes
    ログを記録する and 送信完了を表示する write logoutput and notify."""
    q = Install(env, "log_kept")
    q.ini(rcpt=RCPT, logoutput=1)
    q.write("prog.epg", epg(station="ソ表テレビ"))
    rc, boxes = q.run(["dialog 放送局の登録", "click 2", "gone", "ok"], ["prog.epg"])
    expect_equal("boxes", [b["text"] for b in boxes], ["iEPGファイル「prog.epg」の予約に失敗しました"])
    failure = q.read("Quorpa.log")
    rc, boxes = q.run(["dialog Quorpa", "check 1012", "check 1013", "click 1", "gone"], [])
    expect_equal("the failure's log", q.read("Quorpa.old.log"), failure)
    expect_equal("the settings run's log", q.read("Quorpa.log"),
                 b"I:AplicationInitCompleted\r\nI:SettingMode\r\nI:SaveSetting\r\nI:AplicationTerminated\r\n")
    expect_equal("the INI file", q.read("Quorpa.ini").decode("cp932"), crlf(
        "[setting]\nrcpt=%s\nlogoutput=0\nsmtpsvr=127.0.0.1\nstartad=0\nendad=0\nsmtpport=25\nnotify=1\n" % RCPT))
    rc, boxes = q.run(["dialog Quorpa", "check 1012", "check 1013", "click 1", "gone"], [])
    expect_equal("the INI file", q.read("Quorpa.ini").decode("cp932"), crlf(
        "[setting]\nrcpt=%s\nlogoutput=1\nsmtpsvr=127.0.0.1\nstartad=0\nendad=0\nsmtpport=25\nnotify=0\n" % RCPT))
    expect_equal("the failure's log, after a run without a log", q.read("Quorpa.old.log"), failure)


if __name__ == "__main__":
    if "--list" in sys.argv:
        print(";".join(OWN))
        sys.exit(0)
    sys.exit(run.main())
