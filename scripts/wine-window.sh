# Sourced by the scripts that run the real brelin.exe under Wine (scripts/screenshot-windows.sh,
# bench/wine-cpu.sh): builds it and window_drive.exe, starts a virtual X display and a Wine
# prefix whose COM1 is a link that klv480-sim points at its pty, and cleans up on exit.
#   LINUX_BUILD=DIR     the Linux build that has klv480-sim (default build/dev)
#   WINDOWS_BUILD=DIR   the MinGW build directory (default build/windows)
#   WINE_PREFIX_DIR=DIR keeps the Wine prefix in DIR for the next run (default: a fresh one)
# Defines: wine, window_exe, cli_exe, drive (runs window_drive.exe), sim_bin, link, tmp,
# start_sim ARGS..., stop_sim, fail.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
linux=${LINUX_BUILD:-build/dev}
windows=${WINDOWS_BUILD:-build/windows}
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
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

tmp=$(mktemp -d "/tmp/brelin-$name.XXXXXX")
home=$tmp
if [[ -n ${WINE_PREFIX_DIR:-} ]]; then
  mkdir -p "$WINE_PREFIX_DIR"
  home=$(realpath "$WINE_PREFIX_DIR")
fi
link=$home/com1
export WINEPREFIX=$home/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
sim_pid= xvfb_pid= server_pid=
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  "$wineserver" -k 2>/dev/null || true
  [[ -n $server_pid ]] && wait "$server_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
trap "exit 1" INT TERM

# Always a display of our own: what is captured or timed must not share it.
for n in $(seq 90 120); do
  [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [[ -e /tmp/.X11-unix/X$n ]] && break
    sleep 0.05
  done
  kill -0 "$xvfb_pid" 2>/dev/null && [[ -e /tmp/.X11-unix/X$n ]] && export DISPLAY=":$n" && break
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
done
[[ -n $xvfb_pid ]] || fail "no virtual display (Xvfb) could be started"

if [[ ! -f $home/ready ]]; then
  "$wine" wineboot --init >/dev/null 2>&1
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$link" /f >/dev/null 2>&1
  # A virtual desktop: Wine draws the window's frame and caption as Windows does, where no window
  # manager would.
  "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
  "$wineserver" -w
  touch "$home/ready"
fi
# A server in the foreground, as in scripts/wine-tests.sh: one that daemonises takes the first pty
# it opens as its controlling terminal.
"$wineserver" -f -p &
server_pid=$!
for _ in $(seq 20); do
  "$wine" cmd /c exit >/dev/null 2>&1
  [[ $(readlink "$WINEPREFIX/dosdevices/com1") == "$link" ]] && break
  sleep 0.5
done
[[ $(readlink "$WINEPREFIX/dosdevices/com1") == "$link" ]] ||
  fail "COM1 is not mapped to $link: refusing to open what may be a real serial port"

drive() { "$wine" "$drive_exe" "$@" | tr -d '\r'; }

# Starts klv480-sim on $link with ARGS and waits until the link is there.
start_sim() {
  rm -f "$link"
  "$sim_bin" --link "$link" "$@" >"$tmp/sim.out" 2>"$tmp/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    [[ -L $link ]] && return 0
    sleep 0.05
  done
  cat "$tmp/sim.err" >&2
  fail "klv480-sim did not start"
}
stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}
