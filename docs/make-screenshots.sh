#!/usr/bin/env bash
# Takes the pictures of the settings dialog, the mail account dialog, the
# about box, the history dialog, the progress window of a send and its
# notice of a sent reservation shown in the README (docs/settings.png,
# docs/mail.png, docs/about.png, docs/history.png, docs/progress.png,
# docs/notice.png) from
# a windows build:
#   scripts/with-xvfb docs/make-screenshots.sh [BUILD]     (default build/windows)
# Uses a Wine prefix of its own, in which the dialogs' font "ＭＳ Ｐゴシック"
# is mapped to IPAPGothic (fonts-ipafont-gothic), so that the texts have the
# proportions they have on Windows. Needs ImageMagick's convert and
# postfix's smtp-sink.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build/windows}" && pwd)
prefix=$build/wineprefix-docs
work=$build/docs-shots
winpath() { echo "Z:${1//\//\\}"; }

"$top/scripts/wine-run" "$prefix" reg add \
  'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
  /v 'ＭＳ Ｐゴシック' /d IPAPGothic /f >/dev/null 2>&1

rm -rf "$work"
mkdir -p "$work"
cp "$build/Quorpa.exe" "$work/"
printf '[setting]\r\nrcpt=recorder@example.jp\r\nsmtpsvr=127.0.0.1\r\nstartad=-1\r\nendad=1\r\nsmtpport=25\r\nlogoutput=0\r\n' \
  >"$work/Quorpa.ini"
# A history of a few reservations, one of each outcome.
python3 -c '
import sys
lines = ["2026/12/01 20:15:03\t8\t2026/12/07 21:00\t2026/12/07 21:54\tフジテレビ\t月曜ドラマ\tsent\t\tdrama.epg",
         "2026/12/02 07:42:10\t1\t2026/12/08 19:30\t2026/12/08 20:45\tNHK総合\t歴史ドキュメント\tfailed\tSocketI/Oerror\tdoc.epg",
         "2026/12/03 12:05:44\t4\t2026/12/09 23:59\t2026/12/10 00:54\t日本テレビ\t深夜アニメ\tsending\t\tanime.epg",
         "2026/12/04 18:20:31\t6\t2026/12/11 20:00\t2026/12/11 21:48\tTBS\t金曜映画\tstopped\tStopped by user\tmovie.epg",
         "2026/12/05 09:00:12\t5\t2026/12/12 18:56\t2026/12/12 19:54\tテレビ朝日\t旅の番組\tsent\t\ttravel.epg"]
open(sys.argv[1], "wb").write("".join(l + "\r\n" for l in lines).encode("cp932"))' "$work/Quorpa.history"
cat >"$work/script.txt" <<SCRIPT
dialog Quorpa
check 1013
shot "$(winpath "$work/settings.bmp")"
click 1011
dialog 送信設定
type 1020 "587"
check 1022
type 1024 "taro@example.ne.jp"
type 1030 "taro@example.ne.jp"
shot "$(winpath "$work/mail.bmp")"
click 2
gone
dialog Quorpa
click 1014
dialog 予約履歴
listselect 1040 1
shot "$(winpath "$work/history.bmp")"
click 2
gone
dialog Quorpa
syscommand 0x10
dialog Quorpaのﾊﾞｰｼﾞｮﾝ情報
shot "$(winpath "$work/about.bmp")"
click 1
gone
dialog Quorpa
click 2
gone
SCRIPT
"$top/scripts/wine-run" "$prefix" "$build/robot.exe" "$(winpath "$work/script.txt")" \
  "$(winpath "$work/transcript.json")" "$(winpath "$work/Quorpa.exe")" >"$work/wine.log" 2>&1 || {
  cat "$work/transcript.json" >&2
  exit 1
}

# The progress window: a server that takes the connection and never greets
# keeps it up; after two seconds the picture, then 中止 and the two boxes.
python3 -c '
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(1)
open(sys.argv[1], "w").write(str(s.getsockname()[1]))
time.sleep(60)' "$work/port" &
silent=$!
trap 'kill $silent 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
printf '[setting]\r\nrcpt=recorder@example.jp\r\nsmtpsvr=127.0.0.1\r\nsmtpport=%s\r\nlogoutput=0\r\n' \
  "$(cat "$work/port")" >"$work/Quorpa.ini"
cp "$top/examples/Station.txt" "$top/examples/MailFormat.txt" "$top/examples/sample.epg" "$work/"
cat >"$work/script.txt" <<SCRIPT
yes
progress
pause 2200
progress "$(winpath "$work/progress.bmp")"
stopsend
ok
ok
SCRIPT
"$top/scripts/wine-run" "$prefix" "$build/robot.exe" "$(winpath "$work/script.txt")" \
  "$(winpath "$work/transcript.json")" "$(winpath "$work/Quorpa.exe")" "$(winpath "$work/sample.epg")" \
  >"$work/wine.log" 2>&1 || {
  cat "$work/transcript.json" >&2
  exit 1
}

# The notice: a real server takes the mail, the notice stays up for its picture.
sink_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sink_user=(); [ "$(id -u)" -eq 0 ] && sink_user=(-u nobody)
"$(command -v smtp-sink || echo /usr/sbin/smtp-sink)" "${sink_user[@]}" "127.0.0.1:$sink_port" 10 &
sink=$!
trap 'kill $silent $sink 2>/dev/null || true' EXIT
printf '[setting]\r\nrcpt=recorder@example.jp\r\nsmtpsvr=127.0.0.1\r\nsmtpport=%s\r\nlogoutput=0\r\nnotify=1\r\n' \
  "$sink_port" >"$work/Quorpa.ini"
printf 'yes\nnotice 予約メールを送信しました "%s"\n' "$(winpath "$work/notice.bmp")" >"$work/script.txt"
"$top/scripts/wine-run" "$prefix" "$build/robot.exe" "$(winpath "$work/script.txt")" \
  "$(winpath "$work/transcript.json")" "$(winpath "$work/Quorpa.exe")" "$(winpath "$work/sample.epg")" \
  >"$work/wine.log" 2>&1 || {
  cat "$work/transcript.json" >&2
  exit 1
}

convert "$work/settings.bmp" "$top/docs/settings.png"
convert "$work/mail.bmp" "$top/docs/mail.png"
convert "$work/about.bmp" "$top/docs/about.png"
convert "$work/history.bmp" "$top/docs/history.png"
convert "$work/progress.bmp" "$top/docs/progress.png"
convert "$work/notice.bmp" "$top/docs/notice.png"
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
echo "wrote docs/settings.png, docs/mail.png, docs/about.png, docs/history.png, docs/progress.png and docs/notice.png"
