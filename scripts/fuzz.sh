#!/usr/bin/env bash
# Runs every libFuzzer target of build/fuzz for the given number of seconds each (default 60).
# Ends with "N passed, N failed"; exits non-zero when a target found a crash.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
passed=0 failed=0
for target in build/fuzz/fuzz/fuzz_*; do
  [[ -x "$target" && -f "$target" ]] || continue
  name=$(basename "$target")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  echo "fuzz: $name for ${seconds}s" >&2
  if "$target" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix=build/fuzz/ \
      "$corpus" >build/fuzz/$name.log 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    tail -n 40 build/fuzz/$name.log >&2
  fi
done
echo "fuzz: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
