#!/usr/bin/env bash
# CPU share while a paced download runs, in one run and over the same kind of span: klv480-sim
# at the instrument's 9600 baud, measured from its "transfer start" to its "transfer done" only
# (no start-up, no window creation, no report), as % of one core:
#   - brelin-cli on Linux (for reference), brelin-cli.exe and the real brelin.exe under Wine;
#   - the program and the wineserver apart (utime+stime from /proc/PID/stat); the server's share in
#     the Linux row is its baseline, with no Wine program at work;
#   - wake-ups per second: the program's voluntary context switches (all its threads);
#   - then the window's answer time during a second transfer: window_drive.exe sends WM_NULL
#     N times, every 100 ms; median and longest round trip.
# brelin.exe gets its choices through HKCU\Software\Brelin and Get Data is clicked from outside
# by window_drive.exe. For comparison, the window's share and answer time while it waits for the
# operator, with no command running.
#   bench/wine-cpu.sh [RECORDS [PINGS]]   defaults 1000 50 (each transfer about 13 s)
# See scripts/wine-window.sh for LINUX_BUILD, WINDOWS_BUILD and WINE_PREFIX_DIR.
records=${1:-1000}
pings=${2:-50}
source "$(dirname "$0")/../scripts/wine-window.sh"
cmake --build "$linux" --target brelin-cli >/dev/null
cli_linux=$root/$linux/cli/brelin-cli

# The paced simulator this bench measures against.
paced_sim() {
  start_sim --records "$records" --seed 7 --baud 9600
}
wait_log() {  # wait_log TEXT: until the simulator has logged TEXT (two minutes at most)
  for _ in $(seq 6000); do
    grep -q "$1" "$tmp/peer.err" && return 0
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

mkdir "$tmp/work"
cd "$tmp/work"

# brelin-cli on Linux: no wineserver.
paced_sim
"$cli_linux" get-data --port "$link" --no-history -o linux.txt >/dev/null 2>&1 &
pid=$!
linux_span=$(span $pid)
wait $pid || fail "brelin-cli get-data"
stop_peer

paced_sim
"$wine" "$cli_exe" get-data --port COM1 -o cli.txt >/dev/null 2>&1 &
pid=$!
cli_span=$(span $pid)
wait $pid || fail "brelin-cli.exe get-data"
stop_peer

key='HKCU\Software\Brelin'
"$wine" reg add "$key" /v Port /t REG_SZ /d COM1 /f >/dev/null 2>&1
"$wine" reg add "$key" /v OutputFile /t REG_SZ /d window.txt /f >/dev/null 2>&1
paced_sim
"$wine" "$window_exe" &
window_pid=$!
drive find 20000 || fail "no Brelin window"
sleep 1  # past its first paint
idle_t0=$(date +%s.%N) idle_p0=$(ticks $window_pid) idle_s0=$(ticks "$server_pid")
sleep 5
idle_share=$(awk -v p=$(($(ticks $window_pid) - idle_p0)) -v s=$(($(ticks "$server_pid") - idle_s0)) \
  -v hz="$(getconf CLK_TCK)" -v t0="$idle_t0" -v t1="$(date +%s.%N)" \
  'BEGIN {d = t1 - t0; printf "%.2f %% (program %.2f %%, wineserver %.2f %%)", 100 * (p + s) / hz / d,
    100 * p / hz / d, 100 * s / hz / d}')
idle_ping=$(drive ping "$pings" 100) || fail "the waiting window did not answer"
drive click 1003 || fail "could not click Get Data"
window_span=$(span $window_pid)
drive wait-done 60000 || fail "Get Data did not end with Done."
stop_peer

# Again, answering WM_NULL during the transfer.
paced_sim
drive click 1003 || fail "could not click Get Data"
wait_log 'transfer start'
ping=$(drive ping "$pings" 100) || fail "the window did not answer during the transfer"
grep -q 'transfer done' "$tmp/peer.err" &&
  echo "wine-cpu: the transfer ended before the last ping: use more records" >&2
drive wait-done 60000 || fail "the second Get Data did not end with Done."
stop_peer
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
echo "wine-cpu: brelin.exe waiting for the operator: $idle_share of one core"
echo "wine-cpu: brelin.exe answers WM_NULL ($pings, every 100 ms):"
read -r median longest <<<"$idle_ping"
echo "  waiting for the operator  median $median ms, longest $longest ms"
read -r median longest <<<"$ping"
echo "  during a transfer         median $median ms, longest $longest ms"
