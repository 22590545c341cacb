#!/usr/bin/env bash
# Runs every libFuzzer target of build/fuzz side by side for the given number of seconds (default
# 60), each on its own corpus in build/fuzz/corpus, started from the committed seeds in
# fuzz/corpus/<target> (and fuzz/<target without fuzz_>.dict where there is one). With RUNS set,
# each target stops after that many executions instead (the time is then only a limit). Ends with
# "fuzz: N passed, N failed"; exits non-zero when a target found a crash, a leak or undefined
# behaviour (its log is printed).
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
runs=${RUNS:-}

names=() pids=()
for target in build/fuzz/fuzz/fuzz_*; do
  [[ -x "$target" && -f "$target" ]] || continue
  name=$(basename "$target")
  mkdir -p "build/fuzz/corpus/$name"
  echo "fuzz: $name for ${seconds}s" >&2
  extra=()
  dict=fuzz/${name#fuzz_}.dict
  [[ -f $dict ]] && extra+=(-dict="$dict")
  [[ -n $runs ]] && extra+=(-runs="$runs")
  # The first folder takes what the run finds; the seeds are only read.
  "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="build/fuzz/$name-" \
    "${extra[@]}" "build/fuzz/corpus/$name" "fuzz/corpus/$name" >"build/fuzz/$name.log" 2>&1 &
  names+=("$name") pids+=($!)
done

passed=0 failed=0
for i in "${!pids[@]}"; do
  if wait "${pids[$i]}"; then
    passed=$((passed + 1))
    done_runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "build/fuzz/${names[$i]}.log" | grep -o '[0-9]*$')
    took=$(grep -o 'Done [0-9]* runs in [0-9]* second' "build/fuzz/${names[$i]}.log" | grep -o 'in [0-9]*' | grep -o '[0-9]*')
    echo "fuzz: ${names[$i]}: ${done_runs:-?} runs in ${took:-?} s, no findings" >&2
  else
    failed=$((failed + 1))
    echo "fuzz: ${names[$i]} FAILED:" >&2
    tail -n 40 "build/fuzz/${names[$i]}.log" >&2
  fi
done
echo "fuzz: $passed passed, $failed failed"
((failed == 0 && passed > 0))
