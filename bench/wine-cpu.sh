#!/usr/bin/env bash
# CPU share while a paced download runs, in one run and over the same kind of span: klv480-sim
# at the instrument's 9600 baud, measured from its "transfer start" to its "transfer done" only
# (no start-up, no window creation, no report), as % of one core:
#   - brelin-cli on Linux (for reference), brelin-cli.exe and the real brelin.exe under Wine;
#   - the program and the wineserver apart (utime+stime from /proc/PID/stat); the server's share in
#     the Linux row is its baseline, with no Wine program at work;
#   - wake-ups per second: the program's voluntary context switches (all its threads);
#   - then the window's answer time during a second transfer: wine_cpu_drive.exe sends WM_NULL
#     N times, every 100 ms; median and longest round trip.
# brelin.exe gets its choices through HKCU\Software\Brelin and Get Data is clicked from outside
# by bench/wine_cpu_drive.cpp, which this script compiles with MinGW.
#   bench/wine-cpu.sh [RECORDS [PINGS]]   defaults 1000 50 (each transfer about 15 s)
#   LINUX_BUILD=DIR, WINDOWS_BUILD=DIR, WINE_PREFIX_DIR=DIR as for scripts/wine-tests.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
records=${1:-1000}
pings=${2:-50}
linux=${LINUX_BUILD:-build/dev}
windows=${WINDOWS_BUILD:-build/windows}
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

fail() {
  echo "wine-cpu: FAILED: $*" >&2
  exit 1
}

[[ -f $linux/CMakeCache.txt ]] || cmake --preset dev >/dev/null
cmake --build "$linux" --target klv480-sim brelin-cli >/dev/null
cmake --preset windows -B "$windows" >/dev/null
cmake --build "$windows" -j2 --target brelin brelin-cli >/dev/null
sim_bin=$root/$linux/sim/klv480-sim
cli_linux=$root/$linux/cli/brelin-cli
cli_exe=$root/$windows/cli/brelin-cli.exe
window_exe=$root/$windows/win/brelin.exe
drive_exe=$root/$windows/bench/wine_cpu_drive.exe
mkdir -p "$(dirname "$drive_exe")"
if [[ ! $drive_exe -nt bench/wine_cpu_drive.cpp ]]; then
  x86_64-w64-mingw32-g++ -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -static \
    -o "$drive_exe" bench/wine_cpu_drive.cpp
fi

tmp=$(mktemp -d /tmp/brelin-wine-cpu.XXXXXX)
home=$tmp
if [[ -n ${WINE_PREFIX_DIR:-} ]]; then
  mkdir -p "$WINE_PREFIX_DIR"
  home=$(realpath "$WINE_PREFIX_DIR")
fi
link=$home/com1
export WINEPREFIX=$home/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
sim_pid='' xvfb_pid='' server_pid=''
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  "$wineserver" -k 2>/dev/null || true
  [[ -n $server_pid ]] && wait "$server_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
trap "exit 1" INT TERM

# A display of our own.
for n in $(seq 90 120); do
  [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [[ -e /tmp/.X11-unix/X$n ]] && break
    sleep 0.05
  done
  kill -0 "$xvfb_pid" 2>/dev/null && [[ -e /tmp/.X11-unix/X$n ]] && export DISPLAY=":$n" && break
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
done
[[ -n $xvfb_pid ]] || fail "no virtual display (Xvfb) could be started"

if [[ ! -f $home/ready ]]; then
  "$wine" wineboot --init >/dev/null 2>&1
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$link" /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
  "$wineserver" -w
  touch "$home/ready"
fi
# A server in the foreground, as in scripts/wine-tests.sh, and its process id for its ticks.
"$wineserver" -f -p &
server_pid=$!
for _ in $(seq 20); do
  "$wine" cmd /c exit >/dev/null 2>&1
  [[ $(readlink "$WINEPREFIX/dosdevices/com1") == "$link" ]] && break
  sleep 0.5
done
[[ $(readlink "$WINEPREFIX/dosdevices/com1") == "$link" ]] ||
  fail "COM1 is not mapped to $link: refusing to open what may be a real serial port"
export BRELIN_UNDER_WINE=1

start_sim() {
  rm -f "$link"
  "$sim_bin" --link "$link" --records "$records" --seed 7 --baud 9600 >/dev/null 2>"$tmp/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    [[ -L $link ]] && return 0
    sleep 0.05
  done
  fail "klv480-sim did not start"
}
stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}
wait_log() {  # wait_log TEXT: until the simulator has logged TEXT (two minutes at most)
  for _ in $(seq 6000); do
    grep -q "$1" "$tmp/sim.err" && return 0
    sleep 0.02
  done
  fail "klv480-sim never logged '$1'"
}
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
wakeups() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt/ {n += $2} END {print n}'; }
# span PID: "seconds program% server% wakeups/s" from the transfer's start to its end.
span() {
  local pid=$1 t0 p0 s0 w0 t1 p1 s1 w1
  wait_log 'transfer start'
  t0=$(date +%s.%N) p0=$(ticks "$pid") s0=$(ticks "$server_pid") w0=$(wakeups "$pid")
  wait_log 'transfer done'
  t1=$(date +%s.%N) p1=$(ticks "$pid") s1=$(ticks "$server_pid") w1=$(wakeups "$pid")
  awk -v p=$((p1 - p0)) -v s=$((s1 - s0)) -v w=$((w1 - w0)) -v hz="$(getconf CLK_TCK)" \
    -v t0="$t0" -v t1="$t1" \
    'BEGIN {d = t1 - t0; printf "%.1f %.2f %.2f %.0f", d, 100 * p / hz / d, 100 * s / hz / d, w / d}'
}
drive() { "$wine" "$drive_exe" "$@" | tr -d '\r'; }

mkdir "$tmp/work"
cd "$tmp/work"

# brelin-cli on Linux: no wineserver.
start_sim
"$cli_linux" get-data --port "$link" -o linux.txt >/dev/null 2>&1 &
pid=$!
linux_span=$(span $pid)
wait $pid || fail "brelin-cli get-data"
stop_sim

start_sim
"$wine" "$cli_exe" get-data --port COM1 -o cli.txt >/dev/null 2>&1 &
pid=$!
cli_span=$(span $pid)
wait $pid || fail "brelin-cli.exe get-data"
stop_sim

key='HKCU\Software\Brelin'
"$wine" reg add "$key" /v Port /t REG_SZ /d COM1 /f >/dev/null 2>&1
"$wine" reg add "$key" /v OutputFile /t REG_SZ /d window.txt /f >/dev/null 2>&1
start_sim
"$wine" "$window_exe" &
window_pid=$!
drive find 20000 || fail "no Brelin window"
sleep 1  # past its first paint
drive click 1003 || fail "could not click Get Data"
window_span=$(span $window_pid)
drive wait-done 60000 || fail "Get Data did not end with Done."
stop_sim

# Again, answering WM_NULL during the transfer.
start_sim
drive click 1003 || fail "could not click Get Data"
wait_log 'transfer start'
ping=$(drive ping "$pings" 100) || fail "the window did not answer during the transfer"
grep -q 'transfer done' "$tmp/sim.err" &&
  echo "wine-cpu: the transfer ended before the last ping: use more records" >&2
drive wait-done 60000 || fail "the second Get Data did not end with Done."
stop_sim
drive close || fail "could not close the window"
wait "$window_pid" || fail "brelin.exe ended with status $?"

echo "wine-cpu: $records records at 9600 baud, from 'transfer start' to 'transfer done'," \
  "% of one core (target: below 2 %)"
row() {
  read -r d p s w <<<"$2"
  awk -v n="$1" -v d="$d" -v p="$p" -v s="$s" -v w="$w" -v ref="$3" 'BEGIN {
    printf "  %-22s %5.1f s %7.2f %10.2f %7.2f %8.0f %9.1fx\n", n, d, p, s, p + s, w,
      (ref > 0 ? (p + s) / ref : 0)}'
}
read -r _ cp cs _ <<<"$cli_span"
ref=$(awk -v p="$cp" -v s="$cs" 'BEGIN {print p + s}')
echo "  program                  span  program wineserver   total wakeup/s  vs cli.exe"
row "brelin-cli (Linux)" "$linux_span" "$ref"
row "brelin-cli.exe (Wine)" "$cli_span" "$ref"
row "brelin.exe (Wine)" "$window_span" "$ref"
read -r median longest <<<"$ping"
echo "wine-cpu: brelin.exe answers WM_NULL during a transfer ($pings, every 100 ms):" \
  "median $median ms, longest $longest ms"
