# Sourced by the scripts that run the real brelin.exe under Wine (scripts/screenshot-windows.sh,
# bench/wine-cpu.sh): builds it and window_drive.exe, starts a virtual X display and a Wine
# prefix whose COM1 is a link that klv480-sim points at its pty (scripts/wine-prefix.sh), and
# cleans up on exit.
#   LINUX_BUILD=DIR     the Linux build that has klv480-sim (default build/dev)
#   WINDOWS_BUILD=DIR   the MinGW build directory (default build/windows)
#   WINE_PREFIX_DIR=DIR keeps the Wine prefix in DIR for the next run (default: a fresh one)
# Defines: wine, window_exe, cli_exe, drive (runs window_drive.exe), sim_bin, link, tmp,
# start_sim ARGS... (its log in $tmp/peer.err), stop_peer, fail.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
linux=${LINUX_BUILD:-build/dev}
windows=${WINDOWS_BUILD:-build/windows}
name=$(basename "$0" .sh)

fail() {
  echo "$name: FAILED: $*" >&2
  exit 1
}

[[ -f $linux/CMakeCache.txt ]] || cmake --preset dev -B "$linux" >/dev/null
cmake --build "$linux" --target klv480-sim >/dev/null
cmake --preset windows -B "$windows" >/dev/null
cmake --build "$windows" -j2 --target brelin brelin-cli window_drive >/dev/null
sim_bin=$root/$linux/sim/klv480-sim
window_exe=$root/$windows/win/brelin.exe
cli_exe=$root/$windows/cli/brelin-cli.exe
drive_exe=$root/$windows/dist/windows/window_drive.exe

wine_display=own  # what is captured or timed must not share its display
source scripts/wine-prefix.sh

drive() { "$wine" "$drive_exe" "$@" | tr -d '\r'; }

# Starts klv480-sim on $link with ARGS (its log in $tmp/peer.err) and waits until the link is there.
start_sim() {
  start_peer "$sim_bin" --link "$link" "$@"
}
