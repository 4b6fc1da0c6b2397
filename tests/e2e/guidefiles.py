#!/usr/bin/env python3
"""End-to-end cases of the files today's TV guides serve, on run.py's
helpers: one table of file shapes (version 1 and 2, CRLF and LF, codes in
either case, BS, a remote-control key, station-name empty or absent, hours
past 24, a programme past midnight) reserved under Wine to smtp-sink with
the sample Station.txt, with a table of names alone and with one of codes
alone; and a file with two programmes, two boxes and one connection.

    guidefiles.py --list
    guidefiles.py --source SRC --build BUILD --case NAME
"""
import email
import sys

import run  # puts tests/support (harness) on the path
from harness import CONFIRM, WARNING, cp932, crlf, expect_equal
from run import RCPT, Install, Sink, confirm_text, expect_boxes

OWN = []

# The mail names the channel and the times; its body the title (the row's
# name) and the station as the program shows it.
TEMPLATE = "Subject: ch%chno% %syea%/%smon%/%sday% %shou%:%smin%-%ehou%:%emin%\n\n%titl%\n%stat%\n"


def version1(title, station, start, end, date="05", eol="\r\n"):
    text = ("Content-type: application/x-tv-program-info; charset=shift_jis\n"
            "version: 1\nstation: %s\nyear: 2004\nmonth: 01\ndate: %s\nstart: %s\nend: %s\n"
            "program-title: %s\n\n番組の説明。\n" % (station, date, start, end, title))
    return cp932(text.replace("\n", eol))


def version2(title, station, name, start, end, eol="\r\n"):
    """name None: no station-name line; "" : an empty one. No body, as
    many servers write it."""
    name_line = "" if name is None else ("station-name:%s\n" % (" " + name if name else ""))
    text = ("Content-type: application/x-tv-program-digital-info; charset=shift_jis\n"
            "version: 2\nstation: %s\n%syear: 2004\nmonth: 01\ndate: 05\nstart: %s\nend: %s\n"
            "program-title: %s\nprogram-id: 1234\ngenre-1: 1\n" % (station, name_line, start, end, title))
    return cp932(text.replace("\n", eol))


# name: (file, the station as shown, the confirmation's day, start, end,
#        the mail's subject times, {table: channel, or None where it fails})
SHAPES = [
    ("v1_crlf", version1("v1_crlf", "ＮＨＫ総合", "21:00", "21:54"), "ＮＨＫ総合",
     ("2004/01/05(月)", "21:00", "21:54"), "04/01/05 21:00-21:54", dict(sample=1, names=1, codes=None)),
    ("v1_lf", version1("v1_lf", "テレビ東京", "19:00", "19:54", eol="\n"), "テレビ東京",
     ("2004/01/05(月)", "19:00", "19:54"), "04/01/05 19:00-19:54", dict(sample=7, names=7, codes=None)),
    ("v1_hour_25", version1("v1_hour_25", "フジテレビ", "25:30", "26:00"), "フジテレビ",
     ("2004/01/06(火)", "01:30", "02:00"), "04/01/06 01:30-02:00", dict(sample=8, names=8, codes=None)),
    ("v2_crlf_upper", version2("v2_crlf_upper", "DFS00410", "日テレ１", "20:00", "20:54"), "日テレ１",
     ("2004/01/05(月)", "20:00", "20:54"), "04/01/05 20:00-20:54", dict(sample=4, names=None, codes=4)),
    ("v2_lf_lower", version2("v2_lf_lower", "DFS05c38", "ＴＯＫＹＯ　ＭＸ", "22:00", "22:30", eol="\n"),
     "ＴＯＫＹＯ　ＭＸ", ("2004/01/05(月)", "22:00", "22:30"), "04/01/05 22:00-22:30",
     dict(sample=9, names=9, codes=9)),
    ("v2_bs", version2("v2_bs", "BSDT181", "ＢＳフジ・１８１", "18:00", "18:55"), "ＢＳフジ・１８１",
     ("2004/01/05(月)", "18:00", "18:55"), "04/01/05 18:00-18:55", dict(sample=181, names=None, codes=181)),
    ("v2_remote_key", version2("v2_remote_key", "0004", "日テレ", "17:00", "17:30"), "日テレ",
     ("2004/01/05(月)", "17:00", "17:30"), "04/01/05 17:00-17:30", dict(sample=4, names=4, codes=4)),
    ("v2_name_empty", version2("v2_name_empty", "DFS00400", "", "12:00", "12:20"), "DFS00400",
     ("2004/01/05(月)", "12:00", "12:20"), "04/01/05 12:00-12:20", dict(sample=1, names=None, codes=1)),
    ("v2_name_absent", version2("v2_name_absent", "DFS00420", None, "11:00", "11:30", eol="\n"), "DFS00420",
     ("2004/01/05(月)", "11:00", "11:30"), "04/01/05 11:00-11:30", dict(sample=8, names=None, codes=8)),
    ("v2_past_midnight", version2("v2_past_midnight", "DFS00430", "テレビ東京", "23:45", "00:40"), "テレビ東京",
     ("2004/01/05(月)", "23:45", "00:40"), "04/01/05 23:45-00:40", dict(sample=7, names=7, codes=7)),
]

# The tables besides the sample: names as the guides write them, codes with
# the remote-control keys.
TABLES = {
    "sample": None,
    "names": "1 ＮＨＫ総合\n4 日テレ\n7 テレビ東京\n8 フジテレビ\n9 ＴＯＫＹＯ　ＭＸ\n181 ＢＳフジ\n",
    "codes": "1 DFS00400\n4 DFS00410\n4 0004\n7 DFS00430\n8 DFS00420\n9 DFS05C38\n181 BSDT181\n",
}


def case(fn):
    OWN.append(fn.__name__)
    return run.case(fn)


def mail_parts(mail):
    """(subject, body lines) of a dumped mail."""
    message = email.message_from_bytes(mail)
    text = message.get_payload(decode=True).decode("cp932")
    return message["Subject"], [line.strip() for line in text.splitlines() if line.strip()]


def reserve_shapes(env, table):
    q = Install(env, "guide_files_" + table)
    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpsvr="127.0.0.1", smtpport=sink.port, logoutput=1)
        q.write("MailFormat.txt", cp932(crlf(TEMPLATE)))
        if TABLES[table] is not None:
            q.write("Station.txt", cp932(crlf(TABLES[table])))
        going = [s for s in SHAPES if s[5][table] is not None]
        for name, data, *_ in SHAPES:
            q.write(name + ".tvpid", data)

        # Every file the table maps, in one launch.
        rc, boxes = q.run(["yes"] * len(going), [s[0] + ".tvpid" for s in going])
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [(confirm_text(day, start, end, s[5][table]), CONFIRM, "yes")
                             for s in going for day, start, end in [s[3]]])
        mails = {}
        for mail in sink.mails():
            subject, body = mail_parts(mail)
            mails[body[0]] = (subject, body[1])
        expect_equal("the mails", mails, {s[0]: ("ch%d %s" % (s[5][table], s[4]), s[2]) for s in going})

        # Each file it cannot map: 放送局の登録 names what the file gave;
        # キャンセル writes nothing and the file fails as it did.
        for name, data, shown, _, _, channels in SHAPES:
            if channels[table] is not None:
                continue
            station = data.decode("cp932").split("station: ")[1].split()[0]
            named = "(%s)" % shown if shown != station else ""
            before = q.read("Station.txt")
            rc, boxes = q.run(["dialog 放送局の登録", "read 1050", "click 2", "gone", "ok"], [name + ".tvpid"])
            expect_equal("放送局の登録", [r["text"] for r in q.records if "control" in r][0].split("\n")[0],
                         "<%s>%sをチャンネル番号に変換できません" % (station, named))
            expect_boxes(boxes, [("iEPGファイル「%s.tvpid」の予約に失敗しました" % name, WARNING, "ok")])
            expect_equal("Station.txt after キャンセル", q.read("Station.txt"), before)
        expect_equal("mails after the failures", len(sink.mails()), len(going))
    finally:
        sink.stop()


@case
def guide_files_sample(env):
    """Every shape with the sample Station.txt (names, codes and keys)."""
    reserve_shapes(env, "sample")


@case
def guide_files_names(env):
    """A table of names alone: version 1 files, and version 2 files whose
    station-name is in it."""
    reserve_shapes(env, "names")


@case
def guide_files_codes(env):
    """A table of codes alone: version 2 files, by code or remote key."""
    reserve_shapes(env, "codes")


def two_programmes():
    parts = [version2("番組その一", "DFS00400", "ＮＨＫ総合１・東京", "21:00", "21:54"),
             version2("番組その二", "DFS00420", "フジテレビ", "22:00", "22:54")]
    outer = cp932(crlf("Content-type: application/x-multi-tv-program-digital-info; charset=shift_jis\n"
                       "version: 2\nboundary: ----QuorpaGuide\n\n"))
    return outer + b"".join(b"----QuorpaGuide\r\n" + p for p in parts) + b"----QuorpaGuide--\r\n"


def connections_with_mail(sink_log):
    """How many connections smtp-sink (-v) saw that carried a mail, and the
    commands of each: its readiness probe carried none."""
    commands = {"helo", "ehlo", "mail", "rcpt", "data", ".", "rset", "quit"}
    connections = []
    for line in sink_log.splitlines():
        word = line.split(": ", 1)[-1].split(" ")[0].lower()
        if ": connect (" in line:
            connections.append([])
        elif connections and word in commands:
            connections[-1].append(word)
    return [c for c in connections if "mail" in c]


@case
def two_programmes_one_connection(env):
    """A file with two programmes: a box for each, marked with its place,
    title and station; both mails in one connection (RSET between), which
    one progress window shows, saying which programme it is at. No on the
    first sends only the second."""
    q = Install(env, "two_programmes_one_connection")
    q.write("two.tvpid", two_programmes())
    # Each station named by the table's line, the file's name beside it
    # where that differs.
    boxes_of = [("(1/2) 番組その一  ＮＨＫ総合(ＮＨＫ総合１・東京)\n" + confirm_text("2004/01/05(月)", "21:00", "21:54", 1),
                 CONFIRM),
                ("(2/2) 番組その二  フジテレビ\n" + confirm_text("2004/01/05(月)", "22:00", "22:54", 8), CONFIRM)]
    both = ["helo", "mail", "rcpt", "data", ".", "rset", "mail", "rcpt", "data", ".", "quit"]
    # answers, the titles sent, a slow server (the window shows)
    for answers, sent, slow in ((["yes", "yes"], ["番組その一", "番組その二"], False),
                                (["no", "yes"], ["番組その二"], False),
                                (["yes", "yes", "progress"], ["番組その一", "番組その二"], True)):
        sink = Sink(q.dir, options=("-v",))
        relay = run.DelayedGreeting(sink.port, run.GREETING_DELAY_S) if slow else None
        try:
            q.ini(rcpt=RCPT, smtpsvr="127.0.0.1", smtpport=relay.port if slow else sink.port, logoutput=1)
            q.write("MailFormat.txt", cp932(crlf(TEMPLATE)))
            rc, boxes = q.run(answers, ["two.tvpid"])
            expect_equal("exit code", rc, 0)
            expect_boxes(boxes, [b + (a,) for b, a in zip(boxes_of, answers)])
            expect_equal("the mails' titles", sorted(mail_parts(m)[1][0] for m in sink.mails()), sent)
            if slow:
                texts = run.progress_records(q, "progress")[0]["texts"]
                expect_equal("the progress window's step", texts[2], "サーバに接続しています(1回目) (1/2)")
            sink.stop()
            with open(q.path("smtp-sink.log"), "rb") as f:
                connections = connections_with_mail(f.read().decode("utf-8", "replace"))
            expected = both if len(sent) == 2 else ["helo", "mail", "rcpt", "data", ".", "quit"]
            expect_equal("the connections the server saw", connections, [expected])
            log = q.read("Quorpa.log").decode("cp932")
            # The history keeps each station as its file names it.
            stations = [line.split("\t")[4] for line in q.read("Quorpa.history").decode("cp932").splitlines()]
            expect_equal("the history's stations", stations[-len(sent):],
                         ["ＮＨＫ総合１・東京", "フジテレビ"][-len(sent):])
            expect_equal("the log's last lines", log[-len("I:Sent=2/2\r\nI:AplicationTerminated\r\n"):],
                         "I:Sent=%d/2\r\nI:AplicationTerminated\r\n" % len(sent))
        finally:
            if relay:
                relay.stop()
            sink.stop()


@case
def multi_files_leading_lines(env):
    """Files with several programmes after a UTF-8 byte order mark, a blank
    line, or both: each programme asked about and sent. Several programmes
    under the single type are never read as one: a box says that nothing was
    sent."""
    q = Install(env, "multi_files_leading_lines")
    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpsvr="127.0.0.1", smtpport=sink.port, logoutput=1)
        q.write("MailFormat.txt", cp932(crlf(TEMPLATE)))
        for name, prefix in (("bom", b"\xef\xbb\xbf"), ("blank", b"\r\n"), ("both", b"\xef\xbb\xbf\r\n \r\n")):
            q.write(name + ".tvpid", prefix + two_programmes())
        rc, boxes = q.run(["yes"] * 6, ["bom.tvpid", "blank.tvpid", "both.tvpid"])
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [
            ("(1/2) 番組その一  ＮＨＫ総合(ＮＨＫ総合１・東京)\n" + confirm_text("2004/01/05(月)", "21:00", "21:54", 1),
             CONFIRM, "yes"),
            ("(2/2) 番組その二  フジテレビ\n" + confirm_text("2004/01/05(月)", "22:00", "22:54", 8), CONFIRM, "yes"),
        ] * 3)
        expect_equal("the mails' titles", sorted(mail_parts(m)[1][0] for m in sink.mails()),
                     ["番組その一"] * 3 + ["番組その二"] * 3)

        q.write("single.tvpid", two_programmes().replace(b"x-multi-tv-", b"x-tv-"))
        rc, boxes = q.run(["ok", "ok"], ["single.tvpid"])
        expect_boxes(boxes, [
            ("ファイルに複数の番組がありますが、番組の区切りを読み取れません\n予約は送信されていません", WARNING, "ok"),
            ("iEPGファイル「single.tvpid」の予約に失敗しました", WARNING, "ok")])
        expect_equal("mails after the refusal", len(sink.mails()), 6)
    finally:
        sink.stop()


@case
def huge_station_name(env):
    """A station-name of a megabyte: 放送局の登録 and each box show its first
    64 bytes and "…", whether the station is unknown or the name marks a
    programme of a file with several."""
    q = Install(env, "huge_station_name")
    name = "局" * (1 << 19)
    shown = "局" * 32 + "…"
    q.write("unknown.tvpid", version2("巨大", "DFS00999", name, "21:00", "21:54"))
    rc, boxes = q.run(["dialog 放送局の登録", "read 1050", "click 2", "gone", "ok"], ["unknown.tvpid"])
    expect_equal("放送局の登録", [r["text"] for r in q.records if "control" in r][0].split("\n")[0],
                 "<DFS00999>(%s)をチャンネル番号に変換できません" % shown)
    expect_boxes(boxes, [("iEPGファイル「unknown.tvpid」の予約に失敗しました", WARNING, "ok")])
    parts = [version2("番組その一", "DFS00400", name, "21:00", "21:54"),
             version2("番組その二", "DFS00420", "フジテレビ", "22:00", "22:54")]
    outer = cp932(crlf("Content-type: application/x-multi-tv-program-digital-info\n"
                       "version: 2\nboundary: ----QuorpaGuide\n\n"))
    q.write("known.tvpid", outer + b"".join(b"----QuorpaGuide\r\n" + p for p in parts) + b"----QuorpaGuide--\r\n")
    rc, boxes = q.run(["no", "no"], ["known.tvpid"])
    expect_boxes(boxes, [
        ("(1/2) 番組その一  ＮＨＫ総合(%s)\n" % shown + confirm_text("2004/01/05(月)", "21:00", "21:54", 1), CONFIRM, "no"),
        ("(2/2) 番組その二  フジテレビ\n" + confirm_text("2004/01/05(月)", "22:00", "22:54", 8), CONFIRM, "no")])


if __name__ == "__main__":
    if "--list" in sys.argv:
        print(";".join(OWN))
        sys.exit(0)
    sys.exit(run.main())
