#!/usr/bin/env python3
"""End-to-end cases of the history of reservation mails under Wine, on
run.py's helpers: a failed reservation kept, sent again from 予約履歴 in
setting mode, stopped there, removed, and a damaged history file read.

    history.py --list
    history.py --source SRC --build BUILD --case NAME
"""
import re
import socket
import sys

import run  # puts tests/support (harness) on the path
from harness import CONFIRM, WARNING, Failure, cp932, crlf, expect_equal
from run import RCPT, Install, Sink, epg, expect_boxes

OWN = []


def case(fn):
    OWN.append(fn.__name__)
    return run.case(fn)


LIST = 1040
STARTED = ("この番組は 1/5 21:00 に始まっています。予約メールを送信しますか？", CONFIRM, "yes")
STOPPED = ("メール送信を中止しました\n予約は送信されていません", WARNING, "ok")
# A reservation as the history shows it, up to its time sent and outcome.
PROGRAMME = ["フジテレビ", "8", "2004/01/05 21:00", "21:54", "月曜ドラマ"]
SENT_AT = r"\d{4}/\d\d/\d\d \d\d:\d\d"


def history_lines(q):
    return q.read("Quorpa.history").decode("cp932").split("\r\n")[:-1]


def history_run(q, commands):
    """Setting mode: 予約履歴... opened, commands run in it, closed; the
    settings dialog cancelled. Returns the boxes and the list's readings."""
    rc, boxes = q.run(["dialog Quorpa", "click 1014", "dialog 予約履歴"] + commands +
                      ["click 2", "gone", "dialog Quorpa", "click 2", "gone"], [])
    expect_equal("exit code", rc, 0)
    return boxes, [r for r in q.records if "list" in r]


def expect_row(row, outcome):
    if not re.fullmatch(SENT_AT, row[0]):
        raise Failure("the time sent: %r" % row)
    expect_equal("the row", row[1:], PROGRAMME + [outcome])


@case
def history_resend(env):
    """A reservation the server refused stays in the history as failed, with
    the log's reason and the file's name; 再送 in setting mode, after the
    question for a programme that has started, delivers the same channel,
    start, end and title with today's settings, and the entry becomes sent."""
    q = Install(env, "history_resend")
    q.write("prog.epg", epg())
    refusing = Sink(q.dir, ["-r", "RCPT"])
    try:
        q.ini(rcpt=RCPT, smtpport=refusing.port)
        rc, boxes = q.run(["yes", "ok", "ok"], ["prog.epg"])
        expect_equal("boxes", [b["text"] for b in boxes][1:],
                     ["メール送信に失敗しました(サーバエラー)", "iEPGファイル「prog.epg」の予約に失敗しました"])
    finally:
        refusing.stop()
    (line,) = history_lines(q)
    if not re.fullmatch(SENT_AT + r":\d\d\t8\t2004/01/05 21:00\t2004/01/05 21:54\tフジテレビ\t月曜ドラマ\t"
                        r"failed\tSMTP error\tprog\.epg\*id=([0-9a-f]+-[0-9a-f]+-[0-9a-f]+)"
                        r"\*from=2004/01/05 21:00\*to=2004/01/05 21:54", line):
        raise Failure("unexpected history line: %r" % line)
    failed_id = re.search(r"\*id=([^*]+)", line).group(1)
    # Sent at a fixed earlier second, so that 再送 is told from a line left
    # beside it whatever the clock's second.
    earlier = "2026/12/07 19:05:09" + line[len("2026/12/07 19:05:09"):]
    q.write("Quorpa.history", cp932(earlier + "\r\n"))

    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpport=sink.port)
        q.write("MailFormat.txt", cp932(crlf("Subject: ch%chno% %syea%%smon%%sday% %shou%%smin%-"
                                             "%eyea%%emon%%eday% %ehou%%emin%\n\n[%titl%]\n")))
        boxes, lists = history_run(q, ["listrows %d" % LIST, "listselect %d 0" % LIST, "click 1041", "yes",
                                       "ready", "listrows %d" % LIST])
        expect_boxes(boxes, [STARTED])
        expect_equal("the question's default button", boxes[0]["default"], "no")
        (before,), (after,) = lists[0]["rows"], lists[1]["rows"]
        expect_equal("the time sent before", before[0], "2026/12/07 19:05")
        expect_row(before, "失敗 (サーバエラー)")
        expect_row(after, "送信済み")
        (mail,) = sink.mails()
        if b"Subject: ch8 040105 2100-040105 2154\n\n" + cp932("[月曜ドラマ]") not in mail:
            raise Failure("the mail sent again: %r" % mail)
    finally:
        sink.stop()
    (line,) = history_lines(q)
    # The same entry (its identity kept), now sent, no longer at the earlier second.
    if line.startswith("2026/12/07 19:05:09") or not re.fullmatch(
            SENT_AT + r":\d\d\t8\t2004/01/05 21:00\t2004/01/05 21:54\tフジテレビ\t月曜ドラマ\tsent\t\t"
            r"\*id=%s\*from=2004/01/05 21:00\*to=2004/01/05 21:54" % re.escape(failed_id), line):
        raise Failure("the entry after 再送: %r" % line)


@case
def history_file_name(env):
    """A file name with Japanese characters (ソ's second byte is a
    backslash) reaches the boxes, the log and the history as it is, whatever
    the process code page."""
    q = Install(env, "history_file_name")
    name = "ソ表の予約.epg"
    q.write(name, epg())
    refusing = Sink(q.dir, ["-r", "RCPT"])
    try:
        q.ini(rcpt=RCPT, smtpport=refusing.port, logoutput=1)
        rc, boxes = q.run(["yes", "ok", "ok"], [name])
    finally:
        refusing.stop()
    expect_equal("boxes", [b["text"] for b in boxes][1:],
                 ["メール送信に失敗しました(サーバエラー)", "iEPGファイル「ソ表の予約.epg」の予約に失敗しました"])
    log = q.read("Quorpa.log").decode("cp932")
    if run.log_input(name) not in log:
        raise Failure("the file's name is not in the log: %r" % log)
    (line,) = history_lines(q)
    if not re.fullmatch(r".*\tfailed\tSMTP error\tソ表の予約\.epg\*id=[0-9a-f]+-[0-9a-f]+-[0-9a-f]+"
                        r"\*from=2004/01/05 21:00\*to=2004/01/05 21:54", line):
        raise Failure("unexpected history line: %r" % line)


@case
def history_reasons(env):
    """A failure is listed in the words of the box the user saw, also from
    lines that name it by the log's word (every version's)."""
    q = Install(env, "history_reasons")
    reasons = [  # (the line's reason, the list's outcome)
        ("SocketI/Oerror", "失敗 (ソケットエラー)"),
        ("SMTP error", "失敗 (サーバエラー)"),
        ("CertificateNotTrusted", "失敗 (証明書を信頼できません)"),
        ("SystemLibraryMissing(secur32.dll)", "失敗 (Windowsのシステムファイルを読み込めません)"),
        ("UnknownException", "失敗"),
        ("", "失敗"),
    ]
    lines = ["2026/12/0%d 10:00:00\t8\t2026/12/25 19:00\t2026/12/25 20:00\tX\tY\tfailed\t%s\ta.epg" % (6 - i, r)
             for i, (r, _) in enumerate(reasons)]
    q.write("Quorpa.history", cp932("\r\n".join(lines) + "\r\n"))
    boxes, lists = history_run(q, ["listrows %d" % LIST, "columns %d" % LIST])
    expect_equal("the outcomes, newest first", [row[6] for row in lists[0]["rows"]], [o for _, o in reasons])
    # Shown whole: the last column is as wide as the longest (133 without).
    (widths,) = [r["widths"] for r in q.records if "columns" in r]
    expect_equal("the outcome column's width", widths[6], 282)


@case
def history_scale(env):
    """The list's columns are as wide as the dialog's font makes them, and
    grow with it when the scale changes (144 dots per inch: half as wide
    again), as the system grows the dialog."""
    q = Install(env, "history_scale")
    boxes, _ = history_run(q, ["columns %d" % LIST, "dpi 144", "columns %d" % LIST])
    widths = [r["widths"] for r in q.records if "columns" in r]
    expect_equal("the columns' widths", widths,
                 [[130, 88, 28, 130, 88, 126, 133], [195, 132, 42, 195, 132, 189, 200]])


@case
def history_resend_stopped(env):
    """中止 during 再送: nothing is sent, the stop's box, and the entry is
    stopped."""
    q = Install(env, "history_resend_stopped")
    q.write("Quorpa.history", cp932("2026/12/07 19:05:09\t8\t2004/01/05 21:00\t2004/01/05 21:54\tフジテレビ\t"
                                    "月曜ドラマ\tfailed\r\n"))
    with socket.socket() as silent:
        # Listening but never accepting: the connection is made, no greeting comes.
        silent.bind(("127.0.0.1", 0))
        silent.listen(1)
        q.ini(rcpt=RCPT, smtpport=silent.getsockname()[1])
        boxes, lists = history_run(q, ["listselect %d 0" % LIST, "click 1041", "yes", "progress", "stopsend", "ok",
                                       "ready", "listrows %d" % LIST])
    expect_boxes(boxes, [STARTED, STOPPED])
    expect_row(lists[0]["rows"][0], "中止")
    (line,) = history_lines(q)
    if not line.endswith("\tstopped\tStopped by user\t"):
        raise Failure("the entry after 中止: %r" % line)


@case
def history_delete(env):
    """削除 removes the selected entries only, after a question (No keeps
    them); damaged lines of the file are skipped, the rest listed newest
    first, an entry a run left "sending" as unknown."""
    q = Install(env, "history_delete")
    good = ["2026/12/01 10:00:00\t1\t2026/12/24 23:30\t2026/12/25 00:15\tNHK総合\t古い番組\tsent",
            "2026/12/02 10:00:00\t4\t2026/12/25 19:00\t2026/12/25 20:00\t日本テレビ\tソ表\tsending\t\ta.epg",
            "2026/12/03 10:00:00\t8\t2026/12/26 19:00\t2026/12/26 20:00\tフジテレビ\t新しい番組\tstopped\t"
            "Stopped by user\tb.epg"]
    damaged = ["garbage", "2026/12/02 10:00:00\t4\t2026/12/25 19:00\t2026/12/25 20:00\tX\tY\tlost",
               "2026/12/02 10:00:00\t0\t2026/12/25 19:00\t2026/12/25 20:00\tX\tY\tsent\t\ta.epg"]
    q.write("Quorpa.history", cp932("\r\n".join([damaged[0], good[0], damaged[1], good[1], good[2], damaged[2]])
                                    + "\r\n"))
    question = ("選択した予約履歴(2件)を削除しますか？", CONFIRM)
    boxes, lists = history_run(q, ["listrows %d" % LIST, "listselect %d 0 2" % LIST, "click 1042", "no", "ready",
                                   "listselect %d 0 2" % LIST, "click 1042", "yes", "ready", "listrows %d" % LIST])
    expect_boxes(boxes, [question + ("no",), question + ("yes",)])
    expect_equal("the list", [[r[2], r[5]] for r in lists[0]["rows"]], [["8", "新しい番組"], ["4", "ソ表"], ["1", "古い番組"]])
    expect_equal("the outcomes", [r[6] for r in lists[0]["rows"]], ["中止", "不明", "送信済み"])
    expect_equal("the ends", [r[4] for r in lists[0]["rows"]], ["20:00", "20:00", "12/25 00:15"])
    expect_equal("the list after 削除", lists[1]["rows"], [["2026/12/02 10:00", "日本テレビ", "4", "2026/12/25 19:00",
                                                          "20:00", "ソ表", "不明"]])
    expect_equal("the file after 削除", history_lines(q), [good[1]])


if __name__ == "__main__":
    if "--list" in sys.argv:
        print(";".join(OWN))
        sys.exit(0)
    sys.exit(run.main())
