#!/usr/bin/env bash
# First look at Brelin without an instrument: builds brelin-cli and turns the sample memory image
# into a report.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target brelin-cli

mkdir -p build/demo
report=build/demo/report.txt
build/dev/cli/brelin-cli analyse data/sample.bin -o "$report"

echo
echo "Report written to $report; its first lines:"
head -n 12 "$report" | tr -d '\r' | sed 's/\xB0/°/g'
