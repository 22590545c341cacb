#!/usr/bin/env bash
# Downloads of large memory images from klv480-sim with brelin-cli get-data, paced as a real line
# and unpaced: for each case the time, the rate against the line's limit, Brelin's peak memory
# (RSS) and whether the image arrived byte for byte. Block numbers wrap past 255 every 256 KiB.
#   bench/scale.sh              the full campaign (about 15 minutes; see CASES below)
#   bench/scale.sh short        one small paced and one unpaced case (about a minute)
#   bench/scale.sh RECORDS:BAUD ...   cases of your own (BAUD 0 = unpaced)
# Exits 1 when an image differs or a download fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target brelin-cli klv480-sim make_sample_image >/dev/null

# 12-byte records: 4096 is the instrument's 48 KiB; 22 000 (258 KiB) wraps the block number once
# at 9600 baud in under five minutes; 350 000 (4 MiB) and 1 400 000 (16 MiB) wrap it 16 and 64 times.
case "${1:-}" in
  '') cases=(4096:9600 22000:9600 350000:115200 350000:0 1400000:0) ;;
  short) cases=(4096:9600 350000:0) ;;
  *) cases=("$@") ;;
esac

bin=build/dev
work=$(mktemp -d)
sim_pid=''
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

printf '%-10s %-8s %10s %9s %11s %11s %10s %s\n' records baud bytes seconds 'KiB/s' 'of line' 'peak RSS' image
failed=0
for c in "${cases[@]}"; do
  records=${c%%:*} baud=${c##*:}
  image=$work/sent.bin
  "$bin/report/make_sample_image" "$image" "$records" 7
  bytes=$(stat -c %s "$image")
  "$bin/sim/klv480-sim" --link "$work/port" --image "$image" --baud "$baud" --block 1024 \
    >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do [[ -e $work/port ]] && break; sleep 0.05; done
  rm -f "$work/got.bin"
  if /usr/bin/time -f '%e %M' -o "$work/time" "$bin/cli/brelin-cli" get-data --port "$work/port" \
    -o "$work/report.txt" --image "$work/got.bin" --no-history >"$work/cli.log" 2>&1; then
    cmp -s "$image" "$work/got.bin" && verdict=identical || verdict=DIFFERS
  else
    verdict="FAILED: $(tail -1 "$work/cli.log")"
  fi
  kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true
  sim_pid='' ; rm -f "$work/port"
  read -r seconds rss_kib <"$work/time"
  rate=$(awk -v b="$bytes" -v s="$seconds" 'BEGIN { printf "%.2f", b / s / 1024 }')
  # 8N1 carries baud/10 bytes a second; the whole command (unlock, system, lock) is in the time.
  share=$(awk -v b="$bytes" -v s="$seconds" -v r="$baud" 'BEGIN { if (r > 0) printf "%.1f %%", 100 * b / s / (r / 10); else print "unpaced" }')
  printf '%-10s %-8s %10s %9s %11s %11s %7.1f MiB %s\n' "$records" "$baud" "$bytes" "$seconds" \
    "$rate" "$share" "$(awk -v k="$rss_kib" 'BEGIN { print k / 1024 }')" "$verdict"
  [[ $verdict == identical ]] || failed=1
done
exit "$failed"
