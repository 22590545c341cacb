#!/usr/bin/env bash
# Takes docs/screenshot.png: brelin under Xvfb does a Get Data from klv480-sim serving
# data/sample.bin, and the main window is saved once the report is written and the readings view
# filled. Then docs/trend.png: three downloads of generated images from one instrument fill a
# history, and the window is saved with one point's trend. The program's remembered choices and its history are
# kept apart from the user's own.
#   BUILD_DIR=dir   the build to use (default build/dev; built here if the programs are missing)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build/dev}

if [[ ! -x $build/gui/brelin || ! -x $build/sim/klv480-sim ]]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j2 --target brelin klv480-sim
fi

work=$(mktemp -d)
sim=
cleanup() {
  [[ -n $sim ]] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# start_sim ARGS...: serves what the arguments say; sets $port.
start_sim() {
  [[ -n $sim ]] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -f "$work/sim.out" "$work/klv480"
  "$build/sim/klv480-sim" --link "$work/klv480" --baud 0 "$@" >"$work/sim.out" 2>"$work/sim.log" &
  sim=$!
  for _ in $(seq 100); do
    [[ -s $work/sim.out ]] && break
    sleep 0.1
  done
  port=$(head -n1 "$work/sim.out")
  [[ -n $port ]] || { echo "screenshot: klv480-sim did not start" >&2; cat "$work/sim.log" >&2; exit 1; }
}

# run_window SCREENSHOT [POINT]: one Get Data in the window, then its picture.
run_window() {
  (cd "$work" && XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$root/$build/gui/brelin" --autorun "$port" "$work/report.txt" "$@")
}

mkdir -p docs
start_sim --image data/sample.bin
run_window "$root/docs/screenshot.png"
echo "screenshot: docs/screenshot.png ($(head -n2 "$work/report.txt" | tail -n1 | tr -d '\r'))"

# Rounds over 100 points, downloaded six times from the same instrument.
rm -rf "$work/data"
# Seeds far apart: near ones give the same stream of records, shifted.
for seed in 1000003 2000006 3000009 4000012 5000015 6000018; do
  start_sim --records 600 --seed "$seed" --serial 480123
  run_window "$work/trend.png" 12
done
cp "$work/trend.png" docs/trend.png
echo "screenshot: docs/trend.png (point 12 of NE480123)"
