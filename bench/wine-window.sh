#!/usr/bin/env bash
# brelin.exe under Wine during a paced download (klv480-sim at the instrument's 9600 baud on COM1),
# side by side with brelin-cli.exe in the same run:
#   - CPU share while the transfer runs, from "transfer start" to "transfer done" in the
#     simulator's log: the program's own time plus the wineserver's, per second of wall time
#     (target: below 2 % of a core);
#   - the window's CPU share while it waits for the operator, for comparison;
#   - the window's answer time: window_drive.exe sends it WM_NULL N times, every 100 ms, while it
#     waits with nothing to do, and again during a transfer; median and longest round trip.
#   bench/wine-window.sh [RECORDS [PINGS]]   defaults 1000 30 (about a minute with a fresh prefix)
# See scripts/wine-window.sh for LINUX_BUILD, WINDOWS_BUILD and WINE_PREFIX_DIR.
records=${1:-1000}
pings=${2:-30}
source "$(dirname "$0")/../scripts/wine-window.sh"

hz=$(getconf CLK_TCK)
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
now() { date +%s.%N; }
wait_log() {  # wait_log TEXT: until the simulator has logged TEXT (two minutes at most)
  for _ in $(seq 6000); do
    grep -q "$1" "$tmp/sim.err" && return 0
    sleep 0.02
  done
  fail "klv480-sim never logged '$1'"
}
# share PID: the CPU share of PID and the wineserver from the transfer's start to its end.
share() {
  wait_log 'transfer start'
  over "$1" wait_log 'transfer done'
}
# over PID COMMAND...: the CPU share of PID and the wineserver while COMMAND runs.
over() {
  local pid=$1 t0 w0 s0 t1 w1 s1
  shift
  t0=$(now) w0=$(ticks "$pid") s0=$(ticks "$server_pid")
  "$@"
  t1=$(now) w1=$(ticks "$pid") s1=$(ticks "$server_pid")
  awk -v w=$((w1 - w0)) -v s=$((s1 - s0)) -v hz="$hz" -v t0="$t0" -v t1="$t1" \
    'BEGIN {d = t1 - t0; printf "%.1f%% of a core (program %.1f%%, wineserver %.1f%%) over %.1f s",
      100 * (w + s) / hz / d, 100 * w / hz / d, 100 * s / hz / d, d}'
}

key='HKCU\Software\Brelin'
"$wine" reg add "$key" /v Port /t REG_SZ /d COM1 /f >/dev/null 2>&1
"$wine" reg add "$key" /v OutputFile /t REG_SZ /d window.txt /f >/dev/null 2>&1
mkdir "$tmp/work"
cd "$tmp/work"

# The command line.
start_sim --records "$records" --seed 7 --baud 9600
"$wine" "$cli_exe" get-data --port COM1 -o cli.txt >/dev/null 2>&1 &
cli_pid=$!
cli_share=$(share "$cli_pid")
wait "$cli_pid" || fail "brelin-cli.exe get-data"
stop_sim

# The window: its CPU share with nothing but the transfer going on.
start_sim --records "$records" --seed 7 --baud 9600
"$wine" "$window_exe" &
window_pid=$!
drive find 20000 || fail "no Brelin window"
sleep 1  # past its first paint
idle_share=$(over "$window_pid" sleep 5)
idle_ping=$(drive ping "$pings" 100) || fail "the waiting window did not answer"
drive click 1003 || fail "could not click Get Data"  # IDC_GET_DATA
window_share=$(share "$window_pid")
drive wait-done 60000 || fail "Get Data did not end with Done."
stop_sim

# The window again, answering messages during a second transfer.
start_sim --records "$records" --seed 7 --baud 9600
drive click 1003 || fail "could not click Get Data"
wait_log 'transfer start'
busy_ping=$(drive ping "$pings" 100) || fail "the window did not answer during the transfer"
grep -q 'transfer done' "$tmp/sim.err" &&
  echo "wine-window: the transfer ended before the last ping: use more records" >&2
drive wait-done 60000 || fail "the second Get Data did not end with Done."
stop_sim
drive close || fail "could not close the window"
wait "$window_pid" || fail "brelin.exe ended with status $?"

echo "wine-window: paced transfer of $records records at 9600 baud, CPU (target below 2%):"
echo "  brelin-cli.exe  $cli_share"
echo "  brelin.exe      $window_share"
echo "  brelin.exe waiting for the operator: $idle_share"
read -r median longest <<<"$idle_ping"
echo "wine-window: brelin.exe answers WM_NULL ($pings round trips each):"
echo "  waiting for the operator  median $median ms, longest $longest ms"
read -r median longest <<<"$busy_ping"
echo "  during the transfer       median $median ms, longest $longest ms"
