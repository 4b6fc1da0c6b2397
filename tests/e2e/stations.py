#!/usr/bin/env python3
"""End-to-end cases of a first week outside Kanto, on run.py's helpers: the
release package unzipped, the shipped Station.txt (Kanto's) left as it is,
and files of stations it does not know. 放送局の登録 takes the channel and
the reservation goes on; the next file of that station goes straight to the
confirmation; a BS code's number is suggested and キャンセル writes nothing;
a second name keeps the first; Station.txt and MailFormat.txt saved as
Notepad saves them (UTF-8 with and without a mark, UTF-16); a guide
server's service-id; a Station.txt that cannot be written; a file with
several programmes of one unknown station; 放送局... in the settings.

    stations.py --list
    stations.py --source SRC --build BUILD --case NAME
"""
import email
import os
import sys
import zipfile

import run  # puts tests/support (harness) on the path
from harness import CONFIRM, WARNING, Failure, cp932, crlf, expect_equal
from run import RCPT, Install, Sink, confirm_text, expect_boxes

OWN = []

# The dialog's controls: its text, the channel field, its two buttons.
MESSAGE, FIELD, REGISTER, CANCEL = 1050, 1051, 1, 2
DIALOG = "放送局の登録"
# What the dialog says after the box's first line.
ASKS = "\n録画機のチャンネル番号を入れて「登録して予約」を押すと、\nStation.txtに登録して予約します"

TEMPLATE = ("Subject: ch%chno% %shou%:%smin%\nContent-Type: text/plain; charset=Shift_JIS\n\n"
            "録画予約\n%titl%\n%stat%\n")


def case(fn):
    OWN.append(fn.__name__)
    return run.case(fn)


def digital(title, station, name, start="21:00", end="21:54", extra=""):
    name_line = "station-name: %s\n" % name if name else ""
    return cp932(crlf("Content-type: application/x-tv-program-digital-info; charset=shift_jis\n"
                      "version: 2\nstation: %s\n%s%syear: 2004\nmonth: 01\ndate: 05\nstart: %s\nend: %s\n"
                      "program-title: %s\n" % (station, name_line, extra, start, end, title)))


def unknown(station, name):
    return "<%s>(%s)をチャンネル番号に変換できません" % (station, name) if name else \
        "<%s>をチャンネル番号に変換できません" % station


def register(channel):
    """The robot's lines for 放送局の登録: what it shows, where the focus is,
    then the channel typed and 登録して予約 (or キャンセル for None)."""
    lines = ["dialog " + DIALOG, "read %d" % MESSAGE, "read %d" % FIELD, "focus %d" % FIELD]
    if channel is None:
        return lines + ["click %d" % CANCEL, "gone"]
    return lines + ["settext %d %s" % (FIELD, channel), "click %d" % REGISTER, "gone"]


def dialog_seen(q):
    """(message, field, focus selection) of the last run's 放送局の登録."""
    reads = {r["control"]: r["text"] for r in q.records if "control" in r}
    focus = [r for r in q.records if "focus" in r]
    return reads.get(MESSAGE), reads.get(FIELD), focus[-1].get("selection") if focus else None


def mail_parts(mail):
    """(subject, body lines) of a dumped mail."""
    message = email.message_from_bytes(mail)
    charset = message.get_content_charset() or "cp932"
    text = message.get_payload(decode=True).decode("cp932" if charset.lower() == "shift_jis" else charset)
    return message["Subject"], [line.strip() for line in text.splitlines() if line.strip()]


def unzip_release(env, q):
    """The release package, unzipped into q's folder over its files."""
    dist, package = run.release_package(env, q)
    with zipfile.ZipFile(os.path.join(dist, package)) as z:
        for name in ("Quorpa.exe", "Station.txt", "MailFormat.txt"):
            q.write(name, z.read(name))


@case
def first_week_outside_kanto(env):
    """A user in Osaka, from the release package: the first click on an
    unknown code ends in a sent mail and a Station.txt that kept every line;
    the next file goes straight to the confirmation; a BS code's number is
    suggested and キャンセル writes nothing; a second name keeps the first;
    a guide server's file maps through service-id."""
    q = Install(env, "first_week_outside_kanto")
    unzip_release(env, q)
    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpsvr="127.0.0.1", smtpport=sink.port, logoutput=1)
        shipped = q.read("Station.txt")

        # Monday: ＮＨＫ総合 of Osaka, a code the Kanto table does not have.
        q.write("monday.tvpid", digital("ニュース", "DFS00800", "ＮＨＫ総合１・大阪"))
        rc, boxes = q.run(register(1) + ["yes"], ["monday.tvpid"])
        expect_equal("exit code", rc, 0)
        expect_equal("放送局の登録", dialog_seen(q),
                     (unknown("DFS00800", "ＮＨＫ総合１・大阪") + ASKS, "", [0, 0]))
        expect_boxes(boxes, [(confirm_text("2004/01/05(月)", "21:00", "21:54", 1), CONFIRM, "yes")])
        expect_equal("Station.txt", q.read("Station.txt"), shipped + cp932("1 DFS00800 ＮＨＫ総合１・大阪\r\n"))
        expect_equal("mails", len(sink.mails()), 1)
        subject = email.message_from_bytes(sink.mails()[0])["Subject"]
        expect_equal("the mail's subject", subject, "Quorpa reservation 040105 2100 ch1")
        history = q.read("Quorpa.history").decode("cp932").splitlines()
        expect_equal("the history's station", history[-1].split("\t")[4], "ＮＨＫ総合１・大阪")

        # Tuesday: the same station goes straight to the confirmation.
        q.write("tuesday.tvpid", digital("天気", "DFS00800", "ＮＨＫ総合１・大阪", "19:00", "19:30"))
        rc, boxes = q.run(["yes"], ["tuesday.tvpid"])
        expect_boxes(boxes, [(confirm_text("2004/01/05(月)", "19:00", "19:30", 1), CONFIRM, "yes")])
        expect_equal("mails", len(sink.mails()), 2)

        # A BS channel newer than the table: its number suggested, selected;
        # キャンセル writes and sends nothing, and the run fails as it did.
        q.write("bs.tvpid", digital("映画", "BSDT234", "ＢＳ新局"))
        before = q.read("Station.txt")
        rc, boxes = q.run(register(None) + ["ok"], ["bs.tvpid"])
        expect_equal("放送局の登録 of a BS code", dialog_seen(q),
                     (unknown("BSDT234", "ＢＳ新局") + ASKS, "234", [0, 3]))
        expect_boxes(boxes, [("iEPGファイル「bs.tvpid」の予約に失敗しました", WARNING, "ok")])
        expect_equal("Station.txt after キャンセル", q.read("Station.txt"), before)
        expect_equal("mails", len(sink.mails()), 2)

        # A second name for channel 1 keeps the first.
        q.write("Station.txt", q.read("Station.txt") + cp932("1 ＮＨＫ総合１\r\n"))
        for title, station in (("一", "ＮＨＫ総合"), ("二", "ＮＨＫ総合１")):
            q.write("v1.epg", cp932(crlf("Content-type: application/x-tv-program-info; charset=shift_jis\n"
                                         "version: 1\nstation: %s\nyear: 2004\nmonth: 01\ndate: 06\n"
                                         "start: 21:00\nend: 21:54\nprogram-title: %s\n" % (station, title))))
            rc, boxes = q.run(["yes"], ["v1.epg"])
            expect_boxes(boxes, [(confirm_text("2004/01/06(火)", "21:00", "21:54", 1), CONFIRM, "yes")])

        # A guide server: a remote-control key the table lacks, and the
        # service id of a code it has.
        q.write("Station.txt", q.read("Station.txt") + cp932("16 DFS00810\r\n"))
        q.write("server.tvpid", digital("番組", "0016", "", extra="service-id: 2064\ntype: GR\n"))
        rc, boxes = q.run(["yes"], ["server.tvpid"])
        expect_boxes(boxes, [(confirm_text("2004/01/05(月)", "21:00", "21:54", 16), CONFIRM, "yes")])
        expect_equal("mails", len(sink.mails()), 5)
    finally:
        sink.stop()


# The encodings Notepad saves in, as Python names them, with their marks.
NOTEPAD = [("utf8", "utf-8", b""), ("utf8_bom", "utf-8", b"\xef\xbb\xbf"), ("utf16", "utf-16-le", b"\xff\xfe")]


@case
def notepad_files(env):
    """Station.txt and MailFormat.txt saved as UTF-8 (with and without a
    mark) and as UTF-16: the name maps, the mail is code page 932 as the
    template's charset says, and a station registered is appended in the
    file's own encoding and line ends."""
    for label, codec, mark in NOTEPAD:
        q = Install(env, "notepad_files_" + label)
        sink = Sink(q.dir)
        try:
            q.ini(rcpt=RCPT, smtpsvr="127.0.0.1", smtpport=sink.port)
            station = mark + "# 関西\n1 ＮＨＫ総合\n".encode(codec)
            q.write("Station.txt", station)
            q.write("MailFormat.txt", mark + crlf(TEMPLATE).encode(codec))
            q.write("a.epg", run.epg(station="ＮＨＫ総合"))
            rc, boxes = q.run(["yes"], ["a.epg"])
            expect_boxes(boxes, [(confirm_text("2004/01/05(月)", "21:00", "21:54", 1), CONFIRM, "yes")])
            # In code page 932, as the template's charset says: %titl% and %stat%.
            expect_equal("the mail (%s)" % label, mail_parts(sink.mails()[0]),
                         ("ch1 21:00", ["録画予約", "月曜ドラマ", "ＮＨＫ総合"]))
            raw = sink.mails()[0]
            if "録画予約\n".encode("cp932") not in raw:
                raise Failure("the mail's body is not code page 932 (%s): %r" % (label, raw))

            q.write("b.tvpid", digital("番組", "DFS00C00", "ＭＢＳ"))
            rc, boxes = q.run(register(4) + ["yes"], ["b.tvpid"])
            expect_boxes(boxes, [(confirm_text("2004/01/05(月)", "21:00", "21:54", 4), CONFIRM, "yes")])
            expect_equal("Station.txt (%s)" % label, q.read("Station.txt"),
                         station + "4 DFS00C00 ＭＢＳ\n".encode(codec))

            # The same template saying UTF-8: the mail goes in UTF-8.
            q.write("MailFormat.txt", mark + crlf(TEMPLATE.replace("Shift_JIS", "UTF-8")).encode(codec))
            rc, boxes = q.run(["yes"], ["a.epg"])
            expect_equal("the UTF-8 mail (%s)" % label, mail_parts(sink.mails()[-1]),
                         ("ch1 21:00", ["録画予約", "月曜ドラマ", "ＮＨＫ総合"]))
            if "録画予約\n".encode("utf-8") not in sink.mails()[-1]:
                raise Failure("the mail's body is not UTF-8 (%s): %r" % (label, sink.mails()[-1]))
        finally:
            sink.stop()


@case
def unmappable_character(env):
    """A character with no code page 932 form in Station.txt: a box names
    the file and the line, and nothing is reserved."""
    q = Install(env, "unmappable_character")
    q.ini(rcpt=RCPT)
    q.write("Station.txt", "# 局\r\n1 ＮＨＫ総合\r\n2 caf\u00e9\r\n".encode("utf-8"))
    q.write("a.epg", run.epg(station="ＮＨＫ総合"))
    rc, boxes = q.run(["ok"], ["a.epg"])
    expect_boxes(boxes, [("Station.txtの3行目に、シフトJISで表せない文字があります\n"
                          "その文字を書き換えて保存してください", WARNING, "ok")])


@case
def station_file_not_writable(env):
    """Station.txt cannot be replaced: a box says so, and the programme is
    reserved with the number typed, this time only."""
    q = Install(env, "station_file_not_writable")
    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpsvr="127.0.0.1", smtpport=sink.port)
        os.mkdir(q.path("Station.txt.new"))  # where the new file would be written
        before = q.read("Station.txt")
        q.write("a.tvpid", digital("番組", "DFS00800", "ＮＨＫ総合１・大阪"))
        rc, boxes = q.run(register(1) + ["ok", "yes"], ["a.tvpid"])
        expect_boxes(boxes, [("Station.txtに書き込めません\n今回だけ1チャンネルで予約します", WARNING, "ok"),
                             (confirm_text("2004/01/05(月)", "21:00", "21:54", 1), CONFIRM, "yes")])
        expect_equal("Station.txt", q.read("Station.txt"), before)
        expect_equal("mails", len(sink.mails()), 1)
    finally:
        sink.stop()


@case
def several_programmes_one_question(env):
    """A file with three programmes, two of one unknown station: that
    station is asked about once, and every confirmation names the station
    by the table's line (the registered line's note, for a channel with no
    name line), the file's name beside it where that differs."""
    q = Install(env, "several_programmes_one_question")
    sink = Sink(q.dir)
    try:
        q.ini(rcpt=RCPT, smtpsvr="127.0.0.1", smtpport=sink.port)
        parts = [digital("一", "DFS00800", "ＮＨＫ総合１・大阪", "18:00", "18:30"),
                 digital("二", "DFS00400", "ＮＨＫ総合１・東京", "19:00", "19:30"),
                 digital("三", "DFS00800", "ＮＨＫ総合１・大阪", "20:00", "20:30")]
        outer = cp932(crlf("Content-type: application/x-multi-tv-program-digital-info; charset=shift_jis\n"
                           "version: 2\nboundary: ----B\n\n"))
        q.write("three.tvpid", outer + b"".join(b"----B\r\n" + p for p in parts) + b"----B--\r\n")
        rc, boxes = q.run(register(11) + ["yes", "yes", "yes"], ["three.tvpid"])
        expect_equal("exit code", rc, 0)
        message, _, _ = dialog_seen(q)
        expect_equal("放送局の登録", message, "(1/3) " + unknown("DFS00800", "ＮＨＫ総合１・大阪") + ASKS)
        expect_boxes(boxes, [
            ("(1/3) 一  ＮＨＫ総合１・大阪\n" + confirm_text("2004/01/05(月)", "18:00", "18:30", 11),
             CONFIRM, "yes"),
            ("(2/3) 二  ＮＨＫ総合(ＮＨＫ総合１・東京)\n" + confirm_text("2004/01/05(月)", "19:00", "19:30", 1),
             CONFIRM, "yes"),
            ("(3/3) 三  ＮＨＫ総合１・大阪\n" + confirm_text("2004/01/05(月)", "20:00", "20:30", 11),
             CONFIRM, "yes")])
        expect_equal("mails", len(sink.mails()), 3)
    finally:
        sink.stop()


if __name__ == "__main__":
    if "--list" in sys.argv:
        print(";".join(OWN))
        sys.exit(0)
    sys.exit(run.main())
