#!/usr/bin/env bash
# veltrano.exe under Xvfb and Wine, in a Chinese locale with one CJK font,
# driven as a user would: the dialog opens; "包括 RFC 3161 时间戳" is ticked
# (and kept in the registry); a folder's path is typed into the real folder
# chooser; 更改时间 fills the list and stamps the signed files; About and its
# OK; Exit. Saves screenshots after the run and of About. (Esc is not used:
# Wine does not pass it to wxWidgets' keyboard hook.)
#
#   dialog_smoke.sh VELTRANO_EXE SCREENSHOT_PNG [MAKE_FIXTURES]
#
# Without MAKE_FIXTURES (the Linux build's fixture writer) no file is signed.
#
# Runs under the caller's WINEPREFIX (the test preset's).
set -euo pipefail
exe=$1
out=$2
make_fixtures=${3:-}

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8
# As on a Chinese Windows, the dialog font ("MS Shell Dlg", Tahoma in Wine) is
# one with Chinese glyphs: WenQuanYi Micro Hei, the one CJK font installed.
# (A font link alone draws the glyphs but does not measure them: text widths
# come out too small.)
subst='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma"; do
  wine reg add "$subst" /v "$face" /t REG_SZ /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
done

fail() {
  echo "dialog_smoke: $*" >&2
  exit 1
}

work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
# The folder to run over: an unsigned file with a Chinese name, and with the
# fixtures a file with a legacy timestamp and one with an RFC 3161 one.
folder=$work/archive
mkdir "$folder"
printf 'unsigned' >"$folder/说明.txt"
if [ -n "$make_fixtures" ]; then
  "$make_fixtures" "$work/fx" >/dev/null
  cp "$work/fx/files/default.exe" "$folder/验证签名.exe"
  cp "$work/fx/files/rfc3161-token.exe" "$folder/rfc3161.exe"
fi
touch -d '2024-01-02 03:04:05 UTC' "$folder"/*
# Remembered settings of an earlier run would tick the box already.
settings='HKCU\Software\应用程序向导生成的本地应用程序\veltrano'
wine reg delete "$settings" /f >/dev/null 2>&1 || true
(cd "$work" && exec wine "$exe") &
pid=$!

# The window whose title (UTF-8 _NET_WM_NAME) is exactly $1, within 60 s.
window_titled() {
  local title=$1 id
  for _ in $(seq 120); do
    for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
      if [ "$(xprop -id "$id" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p')" = "$title" ]; then
        echo "$id"
        return 0
      fi
    done
    sleep 0.5
  done
  return 1
}

main=$(window_titled "更改文件修改时间为数字签名时间戳 V1.0") || fail "the main dialog did not appear"
sleep 2  # let the list and the texts paint
timeout 20 import -window "$main" "$work/before.png" || fail "no screenshot"

# Waits up to 10 s for window $1 to go.
wait_gone() {
  for _ in $(seq 20); do
    xdotool search --onlyvisible --name . 2>/dev/null | grep -qx "$1" || return 0
    sleep 0.5
  done
  return 1
}

# Clicks the centre of a control given in dialog units (x, y, width, height)
# of a window whose client area is cx by cy dialog units.
click_control() {
  local id=$1 cx=$2 cy=$3 x=$4 y=$5 w=$6 h=$7 width height
  eval "$(xdotool getwindowgeometry --shell "$id")"
  width=$WIDTH height=$HEIGHT
  xdotool mousemove --window "$id" $(((2 * x + w) * width / (2 * cx))) \
    $(((2 * y + h) * height / (2 * cy))) click 1
}

# Whether the list (7, 99, 306 x 91) shows a dark pixel (text) below its
# header and above a scroll bar, in a screenshot $1 of the whole dialog.
list_has_text() {
  local w h
  read -r w h < <(identify -format '%w %h' "$1")
  [ "$(convert "$1" -crop "$((w * 302 / 320))x$((h * 60 / 214))+$((w * 9 / 320))+$((h * 115 / 214))" \
    +repage -colorspace Gray -threshold 50% -format '%[fx:mean]' info:)" != 1 ]
}
list_has_text "$work/before.png" && fail "the list has rows before a run"

# "包括 RFC 3161 时间戳" (120, 71, 104 x 10 in the 320 x 214 dialog): ticked, and
# remembered at once.
click_control "$main" 320 214 120 71 104 10
sleep 1
wine reg query "$settings" /v IncludeRfc3161 2>/dev/null | grep -q 'REG_DWORD *0x1' ||
  fail "the ticked box was not remembered in the registry"

# 文件夹 (23, 50, 87 x 21) opens the folder chooser; its file name box has the
# focus: the folder's path and Enter choose it.
click_control "$main" 320 214 23 50 87 21
chooser=$(window_titled "选择文件夹") || fail "文件夹 did not open the folder chooser"
sleep 1
xdotool mousemove --window "$chooser" 40 40
winfolder=$(winepath -w "$folder")
xdotool type --delay 30 "$winfolder"
xdotool key Return
wait_gone "$chooser" || fail "the chooser stayed open"
wine reg query "$settings" /v FolderChooserFolder 2>/dev/null | grep -qF "$winfolder" ||
  fail "the chosen folder was not remembered"
sleep 1

# 更改时间 (259, 54, 50 x 14); every entry gets its log line.
entries=$(find "$folder" -mindepth 1 -maxdepth 1 | wc -l)
logged() { [ "$(grep -c 'Analyze Signed File\[' "$work/CertificateLog.log" 2>/dev/null)" = "$entries" ]; }
click_control "$main" 320 214 259 54 50 14
for _ in $(seq 40); do logged && break || sleep 0.5; done
sleep 2  # the rows paint
timeout 20 import -window "$main" "$out" || fail "no screenshot"
echo "dialog_smoke: main dialog $main after the run, $(identify -format '%wx%h' "$out") px, saved to $out"
logged || fail "the run did not go over the $entries entries of the chosen folder"
list_has_text "$out" || fail "no rows in the list after the run"
[ "$(stat -c %Y "$folder/说明.txt")" = "$(date -d '2024-01-02 03:04:05 UTC' +%s)" ] ||
  fail "the unsigned file's time changed"
if [ -n "$make_fixtures" ]; then
  [ "$(stat -c %Y "$folder/验证签名.exe")" = "$(date -d '2019-04-05 06:07:08 UTC' +%s)" ] ||
    fail "the file with a legacy timestamp was not stamped"
  [ "$(stat -c %Y "$folder/rfc3161.exe")" = "$(date -d '2021-03-04 05:06:07 UTC' +%s)" ] ||
    fail "the ticked box did not reach the run: the RFC 3161 file was not stamped"
fi
echo "dialog_smoke: the folder chosen through the chooser was run over: $entries rows"

# About (23, 192, 50 x 14).
click_control "$main" 320 214 23 192 50 14
about=$(window_titled "关于 本软件") || fail "the About button did not open About"
sleep 1
import -window "$about" "${out%.png}-about.png" || true
# Its OK button (117, 52, 50 x 14 in 174 x 73).
click_control "$about" 174 73 117 52 50 14
wait_gone "$about" || fail "OK did not end About"
sleep 1  # the main dialog is enabled again once About's modal loop has returned

# Exit (259, 192, 50 x 14).
click_control "$main" 320 214 259 192 50 14
for _ in $(seq 40); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.5
done
kill -0 "$pid" 2>/dev/null && fail "Exit did not end the program"
wait "$pid" || true
echo "dialog_smoke: About opened and closed; Exit ended the program"
