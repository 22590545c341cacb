#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build (warnings are errors), the same tests under
# AddressSanitizer + UBSan, and a short run of each fuzz target.
#   FUZZ_SECONDS=N   seconds per fuzz target (default 60; 0 skips fuzzing)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --preset dev

cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

if [[ "${FUZZ_SECONDS:-60}" != 0 ]]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
fi
