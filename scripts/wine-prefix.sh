# Sourced by the scripts that run Brelin's Windows programs under Wine (scripts/wine-tests.sh,
# scripts/wine-window.sh). Sets up a Wine prefix whose COM1 is the symbolic link $link, which
# klv480-sim or pty_peer points at its pty, a wineserver of our own and, when asked, a virtual
# display; everything is cleaned up on exit.
#   wine_display=own|any|none  set before sourcing: a display of our own (what is captured or timed
#                              must not share it), the caller's DISPLAY if it has one, or none
#   WINE_PREFIX_DIR=DIR        keeps the prefix in DIR for the next run (default: a fresh one)
# Expects fail. Defines wine, wineserver, tmp, link, server_pid, start_peer, stop_peer and
# peer_pid, and exports WINEPREFIX and DISPLAY.
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

tmp=$(mktemp -d "/tmp/brelin-$(basename "$0" .sh).XXXXXX")
home=$tmp
if [[ -n ${WINE_PREFIX_DIR:-} ]]; then
  mkdir -p "$WINE_PREFIX_DIR"
  home=$(realpath "$WINE_PREFIX_DIR")
fi
link=$home/com1
export WINEPREFIX=$home/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
peer_pid= xvfb_pid= server_pid=
cleanup() {
  [[ -n $peer_pid ]] && kill "$peer_pid" 2>/dev/null && wait "$peer_pid" 2>/dev/null
  "$wineserver" -k 2>/dev/null || true
  [[ -n $server_pid ]] && wait "$server_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
trap "exit 1" INT TERM  # so that an interrupted run still cleans up

# Set before the first Wine program, which starts the desktop every window of the prefix lives on.
if [[ ${wine_display:-none} == own || (${wine_display:-none} == any && -z ${DISPLAY:-}) ]]; then
  for n in $(seq 90 120); do
    [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
      [[ -e /tmp/.X11-unix/X$n ]] && break
      sleep 0.05
    done
    kill -0 "$xvfb_pid" 2>/dev/null && [[ -e /tmp/.X11-unix/X$n ]] && export DISPLAY=":$n" && break
    wait "$xvfb_pid" 2>/dev/null || true  # the number was taken meanwhile: the next one
    xvfb_pid=
  done
  [[ -n $xvfb_pid ]] || fail "no virtual display (Xvfb) could be started"
fi

if [[ ! -f $home/ready ]]; then
  "$wine" wineboot --init >/dev/null 2>&1
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$link" /f >/dev/null 2>&1
  # One virtual desktop: Wine draws the frames and captions as Windows does, and a hidden window
  # does not wait two seconds for a window manager that is not there to confirm it.
  "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
  "$wineserver" -w
  touch "$home/ready"
fi
# Our own persistent server, kept in the foreground as a child of this script: a server that
# daemonises leads a session of its own, takes the first pty it opens as its controlling terminal
# and floods stderr when that pty hangs up.
"$wineserver" -f -p &
server_pid=$!
# Starting a program lets the mount manager apply the port mapping; on a new or busy machine it
# may take more than one.
for _ in $(seq 20); do
  "$wine" cmd /c exit >/dev/null 2>&1
  [[ $(readlink "$WINEPREFIX/dosdevices/com1") == "$link" ]] && break
  sleep 0.5
done
[[ $(readlink "$WINEPREFIX/dosdevices/com1") == "$link" ]] ||
  fail "COM1 is not mapped to $link: refusing to open what may be a real serial port"

# start_peer COMMAND...: starts a program that makes $link point at its pty (its output in
# $tmp/peer.out and $tmp/peer.err) and waits until it has.
start_peer() {
  rm -f "$link"
  "$@" >"$tmp/peer.out" 2>"$tmp/peer.err" &
  peer_pid=$!
  for _ in $(seq 100); do
    [[ -L $link ]] && return 0
    sleep 0.05
  done
  cat "$tmp/peer.err" >&2
  fail "peer did not start: $*"
}
stop_peer() {
  kill "$peer_pid" 2>/dev/null || true
  wait "$peer_pid" 2>/dev/null || true
  peer_pid=
}
