#!/usr/bin/env bash
# Takes docs/screenshot-windows.png: the real brelin.exe under Wine on a virtual X display does a
# Get Data from klv480-sim serving data/sample.bin on COM1, and the window is saved once its log
# says "Done." and the readings view is filled. Its choices are set beforehand through its
# registry key, in a Wine prefix of its own; window_drive.exe clicks Get Data from outside.
# See scripts/wine-window.sh for LINUX_BUILD, WINDOWS_BUILD and WINE_PREFIX_DIR.
source "$(dirname "$0")/wine-window.sh"

key='HKCU\Software\Brelin'
"$wine" reg add "$key" /v Port /t REG_SZ /d COM1 /f >/dev/null 2>&1
"$wine" reg add "$key" /v OutputFile /t REG_SZ /d report.txt /f >/dev/null 2>&1
"$wine" reg add "$key" /v Metric /t REG_DWORD /d 1 /f >/dev/null 2>&1
"$wine" reg add "$key" /v Left /t REG_DWORD /d 40 /f >/dev/null 2>&1
"$wine" reg add "$key" /v Top /t REG_DWORD /d 40 /f >/dev/null 2>&1

start_sim --image "$root/data/sample.bin" --baud 0
mkdir "$tmp/work"
(cd "$tmp/work" && exec "$wine" "$window_exe") &
window_pid=$!
drive find 20000 || fail "no Brelin window"
drive click 1003 || fail "could not click Get Data"  # IDC_GET_DATA
drive wait-done 120000 || fail "Get Data did not end with Done."
sleep 1  # the last paint
read -r left top width height < <(drive rect)
mkdir -p docs
xwd -root -silent | xwdtopnm 2>/dev/null |
  pnmcut -left "$left" -top "$top" -width "$width" -height "$height" |
  pnmtopng -compression 9 >"$root/docs/screenshot-windows.png"
drive close || fail "could not close the window"
wait "$window_pid" || fail "brelin.exe ended with status $?"
stop_peer
echo "screenshot-windows: docs/screenshot-windows.png, ${width}x$height" \
  "($(head -n2 "$tmp/work/report.txt" | tail -n1 | tr -d '\r'))"
