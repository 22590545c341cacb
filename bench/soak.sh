#!/usr/bin/env bash
# Soak of the XMODEM receiver: RUNS downloads of one memory image through seeded random line faults
# (bit flips, dropped bytes, a stall, a lost ACK) with lrzsz sx sending, Brelin's receiver and lrzsz
# rx side by side on the same faults. Prints each run, the totals and whether Brelin's total time is
# within rx's; exits 1 when Brelin has a wrong or hung run or fewer identical images than rx.
#   bench/soak.sh [RUNS [SEED [RECORDS [LIMIT_S]]]]   defaults 30 1 5000 150 (about 15 minutes)
#   bench/soak.sh 3 7 600 60                          the short version CI runs (about a minute)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target xfer_soak >/dev/null
exec nice -n 10 build/dev/bench/xfer_soak "$@"
