#!/usr/bin/env bash
# Takes docs/screenshot.png: brelin under Xvfb does a Get Data from klv480-sim serving
# data/sample.bin, and the main window is saved once the report is written and the readings view
# filled. The program's remembered choices are kept apart from the user's own.
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

"$build/sim/klv480-sim" --link "$work/klv480" --image data/sample.bin --baud 0 \
  >"$work/sim.out" 2>"$work/sim.log" &
sim=$!
for _ in $(seq 100); do
  [[ -s $work/sim.out ]] && break
  sleep 0.1
done
port=$(head -n1 "$work/sim.out")
[[ -n $port ]] || { echo "screenshot: klv480-sim did not start" >&2; cat "$work/sim.log" >&2; exit 1; }

mkdir -p docs
(cd "$work" && XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$root/$build/gui/brelin" --autorun "$port" "$work/report.txt" "$root/docs/screenshot.png")
echo "screenshot: docs/screenshot.png ($(head -n2 "$work/report.txt" | tail -n1 | tr -d '\r'))"
