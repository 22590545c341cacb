#!/usr/bin/env bash
# Mutation testing: how many small faults in a subsystem's code its own tests catch.
#   scripts/mutants.sh SUBSYSTEM [--sample N|all] [--seed S] [--file PATH] [--list]
# SUBSYSTEM is serial, xfer, device or report. Each mutant (scripts/mutants.py lists them: a
# comparison or condition inverted, a constant off by one, a statement removed, a flag flipped)
# is applied alone to one line of the subsystem's production files; the subsystem's test
# binaries are rebuilt and run, and the file is restored. A mutant is killed when a test fails,
# crashes or hangs (runs past three times its usual time plus 10 s), and not viable when it does not
# build. report/image_generator.* and make_sample_image.cpp are left out: they make test data for
# the tests, benchmarks and simulator, not what the program reports (a property test checks them).
# Survivors are printed as they are found, then the counts and the kill score. Mutants listed in
# scripts/mutants-equivalent.txt are reported apart and left out of the score.
# serial/win_*.cpp are tested with the MinGW build under Wine (scripts/wine-tests.sh), the rest
# with the dev preset's tests. Builds go to build/mutants and build/mutants-windows.
#   --sample N   N mutants spread evenly over the list, the same ones for the same seed (default:
#                about ten minutes' worth); --sample all runs every mutant
#   --seed S     another sample of the same size (default 1)
#   --file PATH  only the mutants of PATH
#   --list       print the mutants that would run, and stop
# The exit status is 0 whatever the score; 1 when the unmutated code does not build or pass.
set -euo pipefail
cd "$(dirname "$0")/.."
renice -n 10 $$ >/dev/null 2>&1 || true  # a campaign takes minutes on a machine others build on

usage() {
  awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0" >&2
  exit 2
}

# Mutants per subsystem that take about ten minutes on two cores.
declare -A default_sample=([serial]=50 [xfer]=70 [device]=80 [report]=90)

subsystem='' sample='' seed=1 only='' list=false
while (($#)); do
  case $1 in
    --sample) sample=${2:?}; shift 2 ;;
    --seed) seed=${2:?}; shift 2 ;;
    --file) only=${2:?}; shift 2 ;;
    --list) list=true; shift ;;
    serial | xfer | device | report) subsystem=$1; shift ;;
    *) usage ;;
  esac
done
[[ -n $subsystem ]] || usage
sample=${sample:-${default_sample[$subsystem]}}
[[ $sample == all ]] && sample=0

# Production files: not tests, not testing/, not programs, not the test-data generator.
files=()
for f in "$subsystem"/*.cpp "$subsystem"/*.h; do
  [[ $f == *_test.cpp || $f == report/image_generator.* ]] && continue
  grep -q '^int main(' "$f" && continue
  [[ -z $only || $f == "${only#./}" ]] && files+=("$f")
done
((${#files[@]})) || { echo "mutants: $only is not a production file of $subsystem/" >&2; exit 2; }

linux=build/mutants
windows=build/mutants-windows
work=$linux/campaign
mkdir -p "$work"
equivalent=scripts/mutants-equivalent.txt
mapfile -t mutants < <(python3 scripts/mutants.py list --sample "$sample" --seed "$seed" \
  --equivalent "$equivalent" "${files[@]}" 2>"$work/list.err") || true
[[ $(tail -1 "$work/list.err") =~ ^([0-9]+)\ mutants$ ]] || { cat "$work/list.err" >&2; exit 1; }
total=${BASH_REMATCH[1]}

# file:line: mutation: mutated line, as survivors are printed and equivalent ones are listed.
describe() {  # file line mutation text
  local text=$4
  echo "$1:$2: $3: ${text#"${text%%[![:space:]]*}"}"
}

if $list; then
  for m in "${mutants[@]}"; do
    IFS=$'\t' read -r file line mutation known text <<<"$m"
    note=''
    ((known)) && note='   (known equivalent)'
    echo "$(describe "$file" "$line" "$mutation" "$text")$note"
  done
  echo "$subsystem: ${#mutants[@]} of $total mutants"
  exit 0
fi

# Mutants are applied in place: one campaign at a time in a tree. A file left mutated by a run
# that was killed outright goes back first.
exec 9>"$work/lock"
flock -n 9 || { echo "mutants: another campaign is running in this tree" >&2; exit 1; }
if [[ -f $work/original.path ]]; then
  cp "$work/original" "$(cat "$work/original.path")"
  echo "mutants: restored $(cat "$work/original.path"), left mutated by an interrupted run" >&2
  rm "$work/original.path"
fi
mutated=''
restore() {
  [[ -n $mutated ]] || return 0
  cp "$work/original" "$mutated"  # a fresh time stamp, so that the next build compiles it again
  rm "$work/original.path"
  mutated=
}
trap restore EXIT
trap 'exit 130' INT TERM
apply() {  # file line text
  cp "$1" "$work/original"
  echo "$1" >"$work/original.path"
  mutated=$1
  line=$2 text=$3 awk 'NR == ENVIRON["line"] { print ENVIRON["text"]; next } { print }' \
    "$work/original" >"$1"
}

windows_files=false linux_files=false
for f in "${files[@]}"; do
  if [[ $f == serial/win_* ]]; then windows_files=true; else linux_files=true; fi
done

seconds() { date +%s.%N; }
limit() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%d", 3 * (b - a) + 10.99 }'; }

cmake --preset dev -B "$linux" -DBRELIN_GUI=OFF -DBRELIN_BENCH=OFF >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; exit 1; }
mapfile -t tests < <(make -C "$linux/$subsystem" help | sed -n 's/^\.\.\. \(.*_test\)$/\1/p')
build_linux() { cmake --build "$linux" -j2 --target "${tests[@]}" >"$work/build.log" 2>&1; }
run_test() {  # name limit
  (cd "$linux/$subsystem" && timeout -k 5 "$2" "./$1" --gtest_brief=1 --gtest_fail_fast) \
    >"$work/test.log" 2>&1
}
build_windows() { cmake --build "$windows" -j2 --target win_driver_test >"$work/build.log" 2>&1; }
run_wine() {  # limit
  WINE_TESTS=driver LINUX_BUILD=$linux WINDOWS_BUILD=$windows WINE_PREFIX_DIR=$windows/wine \
    timeout -k 5 "$1" scripts/wine-tests.sh >"$work/test.log" 2>&1
}

# The unmutated code must pass; its times set the limits, and the quickest tests run first.
baseline_failed() {
  echo "mutants: the unmutated $subsystem/ $1; see $work/$2" >&2
  exit 1
}
declare -A limits
if $linux_files; then
  build_linux || baseline_failed "does not build" build.log
  timed=()
  for t in "${tests[@]}"; do
    start=$(seconds)
    run_test "$t" 600 || baseline_failed "fails $t" test.log
    limits[$t]=$(limit "$start" "$(seconds)")
    timed+=("${limits[$t]} $t")
  done
  mapfile -t tests < <(printf '%s\n' "${timed[@]}" | sort -n | cut -d' ' -f2)
fi
if $windows_files; then
  run_wine 1800 || baseline_failed "fails its tests under Wine" test.log  # sets up the first time
  start=$(seconds)
  run_wine 600 || baseline_failed "fails its tests under Wine" test.log
  wine_limit=$(limit "$start" "$(seconds)")
fi

# killed, survived, not viable; "killed (time limit)" for a hang.
try() {  # file
  local status=0
  if [[ $1 == serial/win_* ]]; then
    build_windows || { echo "not viable"; return; }
    run_wine "$wine_limit" || status=$?
  else
    build_linux || { echo "not viable"; return; }
    for t in "${tests[@]}"; do
      run_test "$t" "${limits[$t]}" || { status=$?; break; }
    done
  fi
  case $status in
    0) echo survived ;;
    124 | 137) echo "killed (time limit)" ;;
    *) echo killed ;;
  esac
}

killed=0 timeouts=0 survived=0 not_viable=0 known=()
wrongly_known=()
results=$linux/results-$subsystem.txt
: >"$results"
began=$SECONDS
n=0
for m in "${mutants[@]}"; do
  IFS=$'\t' read -r file line mutation equivalent_one text <<<"$m"
  n=$((n + 1))
  what=$(describe "$file" "$line" "$mutation" "$text")
  [[ -t 2 ]] && printf '\r\033[K[%d/%d] %s' "$n" "${#mutants[@]}" "${what:0:100}" >&2
  apply "$file" "$line" "$text"
  outcome=$(try "$file")
  restore
  echo "$outcome	$what" >>"$results"
  case $outcome in
    killed*)
      killed=$((killed + 1))
      [[ $outcome == *limit* ]] && timeouts=$((timeouts + 1))
      ((equivalent_one)) && wrongly_known+=("$what")
      ;;
    "not viable") not_viable=$((not_viable + 1)) ;;
    survived)
      if ((equivalent_one)); then
        known+=("$what")
      else
        survived=$((survived + 1))
        [[ -t 2 ]] && printf '\r\033[K' >&2
        echo "$what"
      fi
      ;;
  esac
done
[[ -t 2 ]] && printf '\r\033[K' >&2

if ((${#known[@]})); then
  echo "Known equivalent survivors ($equivalent), left out of the score:"
  printf '  %s\n' "${known[@]}"
fi
if ((${#wrongly_known[@]})); then
  echo "Killed, yet listed in $equivalent as equivalent (the entry is wrong):"
  printf '  %s\n' "${wrongly_known[@]}"
fi
scope="every mutant"
((sample > 0 && sample < total)) && scope="a sample, seed $seed"
took=$((SECONDS - began))
echo "$subsystem: ${#mutants[@]} of $total mutants ($scope)," \
  "$((took / 60)) min $((took % 60)) s: $killed killed ($timeouts by the time limit)," \
  "$survived survived, ${#known[@]} known equivalent, $not_viable not viable"
counted=$((killed + survived))
awk -v k="$killed" -v c="$counted" 'BEGIN {
  printf "kill score: %.1f %% (%d of %d: known equivalent and not viable ones are not counted)\n",
    c ? 100 * k / c : 100, k, c }'
