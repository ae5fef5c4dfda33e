#!/usr/bin/env bash
# veltrano.exe under Xvfb and Wine, in a Chinese locale with one CJK font:
# the dialog opens with its title, Esc (the cancel command) opens About,
# Enter ends About, Enter (Exit, the default button) ends the program.
# Saves a screenshot of the dialog.
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
# Wine draws CJK text in the dialog font only through a font link to a font
# that has it; WenQuanYi Micro Hei is the one CJK font installed.
link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Microsoft Sans Serif" "Segoe UI"; do
  wine reg add "$link" /v "$face" /t REG_MULTI_SZ /d "wqy-microhei.ttc,WenQuanYi Micro Hei" /f \
    >/dev/null 2>&1
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

xdotool windowfocus --sync "$main" key Escape
about=$(window_titled "关于 本软件") || fail "Esc did not open About"
import -window "$about" "${out%.png}-about.png" || true
xdotool windowfocus --sync "$about" key Return
for _ in $(seq 20); do
  xdotool search --onlyvisible --name . 2>/dev/null | grep -qx "$about" || break
  sleep 0.5
done
xdotool search --onlyvisible --name . 2>/dev/null | grep -qx "$about" && fail "Enter did not end About"

xdotool windowfocus --sync "$main" key Return
for _ in $(seq 40); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.5
done
kill -0 "$pid" 2>/dev/null && fail "Enter (Exit) did not end the program"
wait "$pid" || true
echo "dialog_smoke: About opened and closed; Exit ended the program"
