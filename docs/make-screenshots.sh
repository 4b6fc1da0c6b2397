#!/usr/bin/env bash
# Takes the pictures of the settings dialog, the mail account dialog and the
# about box shown in the README (docs/settings.png, docs/mail.png,
# docs/about.png) from a windows build:
#   scripts/with-xvfb docs/make-screenshots.sh [BUILD]     (default build/windows)
# Uses a Wine prefix of its own, in which the dialogs' font "ＭＳ Ｐゴシック"
# is mapped to IPAPGothic (fonts-ipafont-gothic), so that the texts have the
# proportions they have on Windows. Needs ImageMagick's convert.
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
cat >"$work/script.txt" <<SCRIPT
dialog Quorpa
shot "$(winpath "$work/settings.bmp")"
click 1011
dialog 送信設定
type 1020 "587"
check 1022
type 1024 "recorder@example.jp"
shot "$(winpath "$work/mail.bmp")"
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
convert "$work/settings.bmp" "$top/docs/settings.png"
convert "$work/mail.bmp" "$top/docs/mail.png"
convert "$work/about.bmp" "$top/docs/about.png"
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
echo "wrote docs/settings.png, docs/mail.png and docs/about.png"
