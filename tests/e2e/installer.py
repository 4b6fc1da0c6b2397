#!/usr/bin/env python3
"""The per-user installer under Wine's own msiexec, on run.py's helpers: the
release's MSI (scripts/release) installed without elevation into
%LOCALAPPDATA%\\Programs\\Quorpa with its Start-menu entry, app-list entry
and file types, where .epg keeps the program that had it; a downloaded .tvpid opened by the shell starts the installed
program and the mail goes; an earlier build is upgraded in place with the
user's changed Station.txt kept; the uninstall removes the program and its
file types and keeps the user's Station.txt and Quorpa.ini. One case, in
the build's prefix, which it leaves as it found it.

    installer.py --list
    installer.py --source SRC --build BUILD --case NAME
"""
import glob
import json
import os
import shutil
import subprocess
import sys

import run  # puts tests/support (harness) on the path
from harness import CONFIRM, Failure, Skip, check, cp932, crlf, expect_equal
from run import RCPT, Install, Sink, confirm_text, epg, expect_boxes

OWN = []
UNINSTALL = "HKLM:Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
# What the installer's table writes for a .tvpid, read through HKEY_CLASSES_ROOT.
TVPID = {"": (1, 8, "epgfile"), "Content Type": (1, 38, "application/x-tv-program-digital-info")}
FILE_TYPE_KEYS = [".tvpid", ".tvpi", ".epg\\OpenWithProgids", "epgfile", "epgfile\\Shell\\open\\command",
                  "USER:Software\\Quorpa"]
# .epg belongs to another program before the install, and after it.
OTHER_EPG = {"": (1, 12, "OtherTV.epg")}


def case(fn):
    OWN.append(fn.__name__)
    return run.case(fn)


def release(env, q, folder, version=None):
    """scripts/release --exe of the tested build into folder; the MSI's path."""
    environ = dict(os.environ, QUORPA_RELEASE_VERSION=version) if version else None
    with open(q.path("release-%s.out" % (version or "now")), "wb") as out:
        rc = subprocess.call([os.path.join(env.source, "scripts", "release"), "--exe", env.quorpa, folder],
                             stdout=out, stderr=subprocess.STDOUT, env=environ)
    expect_equal("scripts/release's exit code", rc, 0)
    (msi,) = glob.glob(os.path.join(folder, "Quorpa-*-x64.msi"))
    return msi


def properties(msi):
    out = subprocess.run(["msiinfo", "export", msi, "Property"], capture_output=True, text=True, check=True).stdout
    return dict(line.split("\t", 1) for line in out.splitlines() if "\t" in line)


def product_code(msi):
    return properties(msi)["ProductCode"]


def msiexec(env, q, *args):
    return env.wine(["msiexec", *args, "/qn"], q.dir, "msiexec-" + args[0].strip("/"))


def dump(env, q, keys):
    out = q.path("registry.json")
    check(env.wine([env.robot, "--tool", "regdump", "Z:" + out.replace("/", "\\")] + keys, q.dir, "regdump") == 0,
          "regdump failed")
    result = {key: {} for key in keys}
    for line in open(out, encoding="utf-8"):
        r = json.loads(line)
        if r.get("missing"):
            result[r["key"]] = None
        else:
            result[r["key"]][r["name"]] = (r["type"], r["size"], r["data"])
    return result


@case
def installer(env):
    if not shutil.which("wixl") or not shutil.which("msiinfo"):
        raise Skip("wixl and msitools are not installed (scripts/setup installs them)")
    q = Install(env, "installer")
    users = [u for u in glob.glob(os.path.join(env.prefix, "drive_c", "users", "*")) if not u.endswith("Public")]
    check(len(users) == 1, "the prefix's users: %r" % users)
    home = q.path("home")
    folder = os.path.join(users[0], "AppData", "Local", "Programs", "Quorpa")
    menu = os.path.join(users[0], "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs", "Quorpa.lnk")
    old = release(env, q, q.path("old"), "0.3.9")
    new = release(env, q, q.path("new"))
    sink = Sink(q.dir)
    try:
        check(env.wine([env.robot, "--tool", "regset", ".epg", "", "OtherTV.epg"], q.dir, "regset") == 0, "regset")
        # Installed as a user without rights installs: no elevation asked.
        expect_equal("msiexec /i's exit code", msiexec(env, q, "/i", run.win_path(old)), 0)
        expect_equal("the installed files", sorted(os.listdir(folder)), [
            "LICENSE.txt", "MailFormat.sample.txt", "Quorpa-guide-ja.txt", "Quorpa.exe", "Station.sample.txt"])
        check(os.path.exists(menu), "no Start-menu entry")
        arp = UNINSTALL + product_code(old)
        got = dump(env, q, [arp])[arp]
        check(got is not None, "no app-list entry")
        expect_equal("the app-list entry", {k: got.get(k, (0, 0, ""))[2] for k in
                                            ("DisplayName", "DisplayVersion", "Publisher")},
                     {"DisplayName": "Quorpa", "DisplayVersion": "0.3.9", "Publisher": "Quorpa developers"})
        # The entry's icon: Windows writes DisplayIcon from it, Wine's
        # msiexec does not, so the package is what can be checked here.
        # (msiinfo also writes the icon itself to Icon/ in its folder.)
        icons = subprocess.run(["msiinfo", "export", old, "Icon"], capture_output=True, text=True, cwd=q.dir).stdout
        expect_equal("the app-list icon", (properties(old).get("ARPPRODUCTICON"), "\nQuorpa.ico\t" in icons),
                     ("Quorpa.ico", True))
        command = '"C:\\users\\%s\\AppData\\Local\\Programs\\Quorpa\\Quorpa.exe" "%%1"' % os.path.basename(users[0])
        got = dump(env, q, [".tvpid", "epgfile\\Shell\\open\\command", ".epg", ".epg\\OpenWithProgids"])
        expect_equal("the file type .tvpid", got[".tvpid"], TVPID)
        expect_equal("another program's .epg", (got[".epg"], got[".epg\\OpenWithProgids"]),
                     (OTHER_EPG, {"epgfile": (1, 1, "")}))
        expect_equal("the open command", got["epgfile\\Shell\\open\\command"],
                     {"": (1, len(command) + 1, command)})

        # A download opens the installed program, which makes Station.txt and
        # MailFormat.txt from the samples; the mail goes.
        with open(os.path.join(folder, "Quorpa.ini"), "wb") as f:
            f.write(cp932(crlf("[setting]\nrcpt=%s\nsmtpport=%d\n" % (RCPT, sink.port))))
        os.makedirs(home)
        download = os.path.join(home, "月曜ドラマ.tvpid")
        with open(download, "wb") as f:
            f.write(epg())
        rc, boxes = q.run(["yes"], [], open_file=download)
        expect_equal("exit code", rc, 0)
        expect_boxes(boxes, [(confirm_text("2004/01/05(月)", "21:00", "21:54", 8), CONFIRM, "yes")])
        expect_equal("mails", len(sink.mails()), 1)
        sample = open(os.path.join(env.source, "examples", "Station.txt"), "rb").read()
        expect_equal("Station.txt made from the sample", open(os.path.join(folder, "Station.txt"), "rb").read(),
                     sample)
        changed = sample + cp932("99 テスト局\r\n")
        with open(os.path.join(folder, "Station.txt"), "wb") as f:
            f.write(changed)
        ini = open(os.path.join(folder, "Quorpa.ini"), "rb").read()

        # The upgrade replaces 0.3.9 in place and keeps the user's files.
        expect_equal("msiexec /i's exit code (upgrade)", msiexec(env, q, "/i", run.win_path(new)), 0)
        got = dump(env, q, [arp, UNINSTALL + product_code(new)])
        expect_equal("0.3.9's app-list entry after the upgrade", got[arp], None)
        expect_equal("the version after the upgrade", (got[UNINSTALL + product_code(new)] or {}).get("DisplayVersion"),
                     (1, 6, "0.4.0"))
        expect_equal("Station.txt after the upgrade", open(os.path.join(folder, "Station.txt"), "rb").read(), changed)
        expect_equal("Quorpa.ini after the upgrade", open(os.path.join(folder, "Quorpa.ini"), "rb").read(), ini)
        expect_equal("the file type .tvpid after the upgrade", dump(env, q, [".tvpid"])[".tvpid"], TVPID)

        # The uninstall: the program, its entries and its file types go; the
        # user's files stay.
        expect_equal("msiexec /x's exit code", msiexec(env, q, "/x", run.win_path(new)), 0)
        expect_equal("the folder after the uninstall", sorted(os.listdir(folder)),
                     ["MailFormat.txt", "Quorpa.history", "Quorpa.history.lock", "Quorpa.ini", "Station.txt"])
        expect_equal("Station.txt after the uninstall", open(os.path.join(folder, "Station.txt"), "rb").read(),
                     changed)
        expect_equal("Quorpa.ini after the uninstall", open(os.path.join(folder, "Quorpa.ini"), "rb").read(), ini)
        check(not os.path.exists(menu), "the Start-menu entry is still there")
        expect_equal("the file types after the uninstall", dump(env, q, FILE_TYPE_KEYS),
                     {key: None for key in FILE_TYPE_KEYS})
        expect_equal("another program's .epg after the uninstall", dump(env, q, [".epg"])[".epg"], OTHER_EPG)
        expect_equal("the app-list entry after the uninstall",
                     dump(env, q, [UNINSTALL + product_code(new)])[UNINSTALL + product_code(new)], None)
    finally:
        sink.stop()
        for msi in (new, old):
            msiexec(env, q, "/x", run.win_path(msi))
        shutil.rmtree(folder, ignore_errors=True)
        env.wine([env.robot, "--tool", "regdelete", ".epg"], q.dir, "regdelete")


if __name__ == "__main__":
    if "--list" in sys.argv:
        print(";".join(OWN))
        sys.exit(0)
    sys.exit(run.main())
