#!/usr/bin/env bash
# First look at Brelin without an instrument: builds brelin-cli and the simulated KLV480, starts the
# simulator on a pseudo-terminal with the sample memory image, downloads it at 9600 baud as from
# the real instrument, and shows the status lines and the start of the report.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target brelin-cli klv480-sim

demo=build/demo
mkdir -p "$demo"
rm -f "$demo/KLV480.bin"

# The simulator prints its device path once the link is in place, then serves until stopped.
coproc SIM { exec build/dev/sim/klv480-sim --link "$demo/klv480" --image data/sample.bin \
  2>"$demo/klv480-sim.log"; }
sim_pid=$SIM_PID
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
read -r device <&"${SIM[0]}"
echo
echo "Simulated KLV480 on $device (link $demo/klv480); downloading at 9600 baud:"

report=$demo/report.txt
start=$SECONDS
# A simulator's readings stay out of the user's own history.
build/dev/cli/brelin-cli get-data --port "$demo/klv480" -o "$report" --image "$demo/KLV480.bin" \
  --history "$demo/history.sqlite3"
echo "(download and report took $((SECONDS - start)) s; the simulator's side is in $demo/klv480-sim.log)"

echo
echo "Report written to $report; its first lines:"
head -n 12 "$report" | tr -d '\r' | sed 's/\xB0/°/g'
