#!/usr/bin/env bash
# veltrano.exe under Xvfb and Wine, in a Chinese locale with one CJK font:
# the dialog opens with its title, the About button opens About, its OK
# button ends it, and Exit ends the program. Saves screenshots of the dialog
# and of About. (Keys are not used: Wine does not pass Escape to wxWidgets'
# keyboard hook, through which the cancel command arrives.)
#
#   dialog_smoke.sh VELTRANO_EXE SCREENSHOT_PNG
#
# Runs under the caller's WINEPREFIX (the test preset's).
set -euo pipefail
exe=$1
out=$2

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
import -window "$main" "$out" || fail "no screenshot"
echo "dialog_smoke: main dialog $main, $(identify -format '%wx%h' "$out") px, saved to $out"

# Clicks the centre of a control given in dialog units (x, y, width, height)
# of a window whose client area is cx by cy dialog units.
click_control() {
  local id=$1 cx=$2 cy=$3 x=$4 y=$5 w=$6 h=$7 width height
  eval "$(xdotool getwindowgeometry --shell "$id")"
  width=$WIDTH height=$HEIGHT
  xdotool mousemove --window "$id" $(((2 * x + w) * width / (2 * cx))) \
    $(((2 * y + h) * height / (2 * cy))) click 1
}

# About (23, 178, 50 x 14 in the 320 x 200 dialog).
click_control "$main" 320 200 23 178 50 14
about=$(window_titled "关于 本软件") || fail "the About button did not open About"
sleep 1
import -window "$about" "${out%.png}-about.png" || true
# Its OK button (117, 52, 50 x 14 in 174 x 73).
click_control "$about" 174 73 117 52 50 14
for _ in $(seq 20); do
  xdotool search --onlyvisible --name . 2>/dev/null | grep -qx "$about" || break
  sleep 0.5
done
xdotool search --onlyvisible --name . 2>/dev/null | grep -qx "$about" && fail "OK did not end About"
sleep 1  # the main dialog is enabled again once About's modal loop has returned

# Exit (259, 178, 50 x 14).
click_control "$main" 320 200 259 178 50 14
for _ in $(seq 40); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.5
done
kill -0 "$pid" 2>/dev/null && fail "Exit did not end the program"
wait "$pid" || true
echo "dialog_smoke: About opened and closed; Exit ended the program"
