#!/usr/bin/env bash
# Builds the Windows programs with MinGW-w64 and tests them under Wine:
#   1. the COM port driver tests (win_driver_test.exe), each test against a fresh pseudo-terminal
#      peer (pty_peer) that Wine knows as COM1;
#   2. brelin-cli.exe get-data and erase on COM1 against klv480-sim: the report must equal the one
#      the Linux brelin-cli analyse writes from the same image; and a simulator that goes away in
#      the middle of a download must end the command with a failure, not a hang; report and image
#      names with non-ASCII characters arrive under those names; ports shows the names Device
#      Manager shows;
#   3. each program's resources as Windows reads them: version, icon, manifest;
#   4. the installer (scripts/package-windows.sh): a silent install and upgrade, the installed
#      programs run and the installed window opens and closes, the Start-menu shortcut and the
#      Apps entry, a silent removal;
#   5. the window's tests (win_window_test.exe) on a virtual X display, each against a fresh
#      klv480-sim on COM1; the report of its Get Data must equal the Linux analysis too.
# Needs the Linux build of pty_peer, klv480-sim and brelin-cli (LINUX_BUILD, default build/dev).
#   WINE_TESTS=driver   only step 1, ending at the first test that fails (scripts/mutants.sh)
#   WINE_TESTS=window   only step 5
#   WINE_TESTS=msi      only step 4
#   WINDOWS_BUILD=DIR   the MinGW build directory (default build/windows)
#   WINE_PREFIX_DIR=DIR keeps the Wine prefix in DIR for the next run (default: a fresh one)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
linux=${LINUX_BUILD:-build/dev}
windows=${WINDOWS_BUILD:-build/windows}
driver_only=false msi_only=false window_only=false
[[ ${WINE_TESTS:-} == driver ]] && driver_only=true
[[ ${WINE_TESTS:-} == msi ]] && msi_only=true
[[ ${WINE_TESTS:-} == window ]] && window_only=true

fail() {
  echo "wine-tests: FAILED: $*" >&2
  exit 1
}

if $msi_only; then
  :  # nothing of the Linux build
elif $driver_only; then
  cmake --build "$linux" --target pty_peer >/dev/null
else
  cmake --build "$linux" --target pty_peer klv480-sim brelin-cli >/dev/null
fi
peer_bin=$root/$linux/serial/pty_peer
sim_bin=$root/$linux/sim/klv480-sim
cli_linux=$root/$linux/cli/brelin-cli

# GoogleTest built from Debian's sources with the same toolchain, once.
gtest=build/windows-gtest
if [[ ! -f $gtest/install/lib/cmake/GTest/GTestConfig.cmake ]]; then
  cmake -S /usr/src/googletest -B $gtest -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$root/$gtest/install" -DBUILD_GMOCK=OFF >/dev/null
  cmake --build $gtest >/dev/null
  cmake --install $gtest >/dev/null
fi
cmake --preset windows -B "$windows" >/dev/null
if $msi_only; then
  cmake --build "$windows" -j2 --target window_drive  # the packages: scripts/package-windows.sh
elif $driver_only; then
  cmake --build "$windows" -j2 --target win_driver_test
else
  cmake --build "$windows" -j2 --target win_driver_test brelin-cli brelin resource_dump \
    win_window_test window_drive
fi
test_exe=$root/$windows/serial/win_driver_test.exe
cli_exe=$root/$windows/cli/brelin-cli.exe
dump_exe=$root/$windows/dist/windows/resource_dump.exe
window_exe=$root/$windows/win/win_window_test.exe
drive_exe=$root/$windows/dist/windows/window_drive.exe

# A prefix whose COM1 is the link the peers point at; the window needs a display.
wine_display=any
$driver_only && wine_display=none
source scripts/wine-prefix.sh

# 4. The installer. A version below the project's, made from the same files, is installed first
#    and upgraded; Apps lists a product by its ProductCode, which wixl makes anew for each MSI.
version=$(sed -n 's/^project(brelin VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
msi_tests() {
  WINDOWS_BUILD=$windows "$root/scripts/package-windows.sh" --also-msi 1.1.0 >/dev/null
  local packages=$root/$windows/packages
  local new=$packages/brelin-$version-x64.msi old=$packages/brelin-1.1.0-x64.msi
  local folder="$WINEPREFIX/drive_c/Program Files/Brelin"
  # Wine puts the shortcut of a per-machine install in the user's Start menu, Windows in the
  # one of all users.
  local menu=Microsoft/Windows/Start\ Menu/Programs
  shortcut() {  # the Start-menu shortcut's file, or nothing
    local file
    for file in "$WINEPREFIX/drive_c/ProgramData/$menu/Brelin.lnk" \
      "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/$menu/Brelin.lnk"; do
      [[ -f $file ]] && echo "$file"
    done
    return 0
  }
  local apps='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
  product_code() {
    msiinfo export "$1" Property | awk '$1 == "ProductCode" {print $2}' | tr -d '\r'
  }
  listed() {  # listed MSI VALUE: what Apps shows of the product of MSI, or nothing
    "$wine" reg query "$apps\\$(product_code "$1")" /v "$2" 2>/dev/null |
      tr -d '\r' | awk -v name="$2" '$1 == name {print substr($0, index($0, $3))}'
  }
  listed_version() { listed "$1" DisplayVersion; }
  msiexec() {  # msiexec /i|/x FILE, silent
    timeout 120 "$wine" msiexec "$1" "Z:${2//\//\\}" /qn || fail "msiexec $1 $(basename "$2")"
  }
  # A shortcut must not become a menu entry on the machine that runs the tests.
  local -x WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
  local -x XDG_DATA_HOME=$tmp/xdg-data XDG_CONFIG_HOME=$tmp/xdg-config

  msiexec /i "$old"
  [[ $(listed_version "$old") == 1.1.0 ]] || fail "Apps does not list Brelin 1.1.0 once installed"
  msiexec /i "$new"
  [[ -z $(listed_version "$old") ]] || fail "the upgrade left Brelin 1.1.0 in Apps"
  [[ $(listed_version "$new") == "$version" ]] || fail "Apps does not list Brelin $version"
  [[ $(listed "$new" InstallLocation) == 'C:\Program Files\Brelin\' ]] ||
    fail "Apps says Brelin is in '$(listed "$new" InstallLocation)'"
  local program shown
  for program in brelin-cli brelin; do
    shown=$("$wine" "$folder/$program.exe" --version 2>&1 | tr -d '\r') ||
      fail "the installed $program.exe does not run"
    [[ $shown == "$program $version" ]] || fail "the installed $program.exe says '$shown'"
  done
  # The installed window opens, and ends normally when asked to close as the close box asks.
  "$wine" "$folder/brelin.exe" &
  local window_pid=$! status=0
  "$wine" "$drive_exe" find 10000 ||
    { kill "$window_pid" 2>/dev/null || true; fail "the installed brelin.exe shows no window"; }
  "$wine" "$drive_exe" close || fail "could not close the installed brelin.exe's window"
  for _ in $(seq 100); do
    kill -0 "$window_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$window_pid" 2>/dev/null &&
    { kill "$window_pid" 2>/dev/null || true; fail "the installed brelin.exe did not end"; }
  wait "$window_pid" || status=$?
  ((status == 0)) || fail "the installed brelin.exe ended with status $status on WM_CLOSE"
  [[ -f $folder/README.txt ]] || fail "no README.txt installed"
  local link
  link=$(shortcut)
  [[ -n $link ]] || fail "no Start-menu shortcut"
  grep -qaF 'C:\Program Files\Brelin\brelin.exe' "$link" ||
    fail "the Start-menu shortcut does not lead to brelin.exe"
  echo "wine-tests: the MSI upgrades 1.1.0 to $version silently: both programs run from" \
    "Program Files\\Brelin, its window opens and closes, Apps lists it, the Start menu has Brelin"

  msiexec /x "$new"
  [[ -z $(listed_version "$new") ]] || fail "Brelin is still in Apps after its removal"
  [[ ! -e $folder ]] || fail "the removal left: $(ls -A "$folder" | tr '\n' ' ')"
  [[ -z $(shortcut) ]] || fail "the removal left the Start-menu shortcut"
  ! "$wine" reg query 'HKLM\Software\Brelin' >/dev/null 2>&1 ||
    fail "the removal left HKLM\\Software\\Brelin"
  echo "wine-tests: the MSI removes Brelin silently: no files, no shortcut, no registry keys"
}
if $msi_only; then
  msi_tests
  echo "wine: 2 passed, 0 failed"
  exit 0
fi

export BRELIN_UNDER_WINE=1
serial=480123

# 5. The window's tests, one process and one fresh simulator per test, in a folder of their own.
window_tests() {
  local dir=$tmp/window tests t sim status received
  mkdir -p "$dir"
  mapfile -t tests < <("$wine" "$window_exe" --gtest_list_tests | tr -d '\r' |
    awk '/^[^ ]/ {suite=$1} /^  / {print suite $1}')
  ((${#tests[@]} > 0)) || fail "no window tests listed"
  for t in "${tests[@]}"; do
    sim=("$sim_bin" --link "$link" --records 300 --seed 7 --serial $serial --baud 0)
    case $t in
      *Refused*) sim+=(--refuse) ;;
      *Silent*) sim+=(--silent) ;;
      # Paced and long, so that the transfer still runs when Close comes.
      *Close*) sim=("$sim_bin" --link "$link" --records 3000 --seed 7 --baud 9600) ;;
    esac
    rm -rf "$dir" && mkdir "$dir"
    start_peer "${sim[@]}"
    status=0
    (cd "$dir" && timeout 120 "$wine" "$window_exe" --gtest_filter="$t") >"$tmp/test.out" 2>&1 ||
      status=$?
    stop_peer
    if ((status != 0)); then
      tr -d '\r' <"$tmp/test.out" >&2
      fail "window test $t (exit status $status)"
    fi
    case $t in
      *GetData*)
        "$cli_linux" analyse "$dir/KLV480.bin" -o "$dir/linux.txt" --format csv --units imperial \
          --serial $serial
        cmp <(tail -n +2 "$dir/window-report.txt") <(tail -n +2 "$dir/linux.txt") ||
          fail "$t: the window's report differs from analyse"
        ;;
      *Erase*)
        (($(grep -c '< ERASE ' "$tmp/peer.err") == 1)) || fail "$t: not exactly one ERASE sent"
        ;;
      *Close*)
        received=$(grep -o ': < .*' "$tmp/peer.err" | cut -c5- | paste -sd, -)
        [[ $received == UNLOCK,DOWNLOAD,LOCK ]] ||
          fail "$t: the instrument got $received, not UNLOCK,DOWNLOAD,LOCK"
        ;;
    esac
    echo "wine-tests: window $t passed ($(tr -d '\r' <"$tmp/test.out" | grep -o '([0-9]* ms)$' | tail -1 | tr -d '()'))"
    passed=$((passed + 1))
  done
}

passed=0 failed=0
if $window_only; then
  window_tests
  echo "wine: $passed passed, 0 failed"
  exit 0
fi

# 1. Driver tests, one process and one fresh pty per test.
mapfile -t tests < <("$wine" "$test_exe" --gtest_list_tests | tr -d '\r' |
  awk '/^[^ ]/ {suite=$1} /^  / {print suite $1}')
((${#tests[@]} > 0)) || fail "no driver tests listed"
for t in "${tests[@]}"; do
  peer=("$peer_bin" --link "$link")
  [[ $t == *HangUp* ]] && peer+=(--hang-up-after 1)
  start_peer "${peer[@]}"
  if ! timeout 60 "$wine" "$test_exe" --gtest_filter="$t" >"$tmp/test.out" 2>&1; then
    cat "$tmp/test.out" >&2
    echo "wine-tests: $t failed" >&2
    failed=$((failed + 1))
    $driver_only && break
  elif grep -q '^\[  SKIPPED \] [A-Za-z]' "$tmp/test.out"; then
    echo "wine-tests: $t skipped: $(tr -d '\r' <"$tmp/test.out" | grep -A1 'Skipped$' | tail -1)"
  else
    echo "wine-tests: $t passed"
    passed=$((passed + 1))
  fi
  stop_peer
done
((failed == 0)) || { echo "wine: $passed passed, $failed failed" >&2; fail "driver tests"; }
if $driver_only; then
  echo "wine: $passed passed, 0 failed"
  exit 0
fi

# 2. The command line end to end against the simulator.
work=$tmp/work
mkdir -p "$work"
cd "$work"
start_peer "$sim_bin" --link "$link" --records 300 --seed 7 --serial $serial --baud 0
timeout 120 "$wine" "$cli_exe" get-data --port COM1 -o report.txt --format csv --units imperial \
  2>"$tmp/get-data.err" || { cat "$tmp/get-data.err" >&2; fail "get-data"; }
"$cli_linux" analyse KLV480.bin -o linux.txt --format csv --units imperial --serial $serial
# Everything but the first line, which says when the report was made.
cmp <(tail -n +2 report.txt) <(tail -n +2 linux.txt) || fail "get-data report differs from analyse"
echo "wine-tests: get-data on COM1 gives the report analyse gives ($(wc -l <report.txt) lines)"
# "-o -": the same bytes on stdout, not turned into text-mode line ends.
"$wine" "$cli_exe" analyse KLV480.bin -o - --format csv --units imperial --serial $serial \
  2>/dev/null >stdout.txt || fail "analyse -o -"
cmp <(tail -n +2 stdout.txt) <(tail -n +2 linux.txt) || fail "analyse -o - differs from the file"
echo "wine-tests: analyse -o - writes the report's bytes to stdout"
# The manifest makes UTF-8 the programs' code page: names with any character arrive as typed,
# for the report, the image and the partial image beside it.
mkdir "Prüfung März"
timeout 120 "$wine" "$cli_exe" get-data --port COM1 -o "Prüfung März/Bericht für Jörg.txt" \
  --image "Prüfung März/Speicher.bin" --format csv --units imperial 2>"$tmp/get-data.err" ||
  { cat "$tmp/get-data.err" >&2; fail "get-data to non-ASCII names"; }
cmp <(tail -n +2 "Prüfung März/Bericht für Jörg.txt") <(tail -n +2 linux.txt) ||
  fail "get-data to non-ASCII names: no report under that name, or a different one"
cmp "Prüfung März/Speicher.bin" KLV480.bin || fail "get-data to non-ASCII names: the image"
[[ $(ls -A "Prüfung März" | wc -l) == 2 ]] ||
  fail "get-data to non-ASCII names left: $(ls -A "Prüfung März")"
echo "wine-tests: get-data writes the report and image to names with non-ASCII characters"

timeout 60 "$wine" "$cli_exe" erase --port COM1 --yes 2>"$tmp/erase.err" ||
  { cat "$tmp/erase.err" >&2; fail "erase"; }
grep -q '< ERASE ' "$tmp/peer.err" || fail "erase: the simulator saw no ERASE command"
echo "wine-tests: erase on COM1 reached the simulator"
stop_peer

# Measured side by side: a paced download (the instrument's 9600 baud) on Linux and under Wine.
# Wall time shows what the Windows build adds; CPU time (the client, plus the wineserver for
# Wine) shows that the waits do not spin.
start_peer "$sim_bin" --link "$link" --records 300 --seed 7 --baud 9600
server_ticks() { awk '{print $14 + $15}' "/proc/$server_pid/stat"; }
measure() {
  local before after TIMEFORMAT='%R %U %S'
  before=$(server_ticks)
  { time "$@" >/dev/null 2>&1; } 2>"$tmp/time" || fail "measured run: $*"
  after=$(server_ticks)
  awk -v ticks=$((after - before)) -v hz="$(getconf CLK_TCK)" \
    '{printf "%.2f s wall, %.1f%% of a core", $1, 100 * ($2 + $3 + ticks / hz) / $1}' "$tmp/time"
}
linux_run=$(measure "$cli_linux" get-data --port "$link" --no-history -o paced-linux.txt)
wine_run=$(measure timeout 120 "$wine" "$cli_exe" get-data --port COM1 -o paced-wine.txt)
stop_peer
echo "wine-tests: paced get-data of 300 records: Linux $linux_run; Wine $wine_run"
# The window's Get Data test, paced: its waits run through the window's idle hook. Its figure
# counts the whole test process (start-up, window creation, a clock four times as fast);
# bench/wine-cpu.sh measures the real brelin.exe over the transfer alone.
start_peer "$sim_bin" --link "$link" --records 300 --seed 7 --baud 9600
mkdir -p "$tmp/paced-window"
(cd "$tmp/paced-window" && timeout 120 "$wine" "$window_exe" --gtest_filter='WindowTest.GetData*') \
  >"$tmp/paced-window.out" 2>&1 || { tr -d '\r' <"$tmp/paced-window.out" >&2; fail "paced window"; }
stop_peer
echo "wine-tests: the window test's paced $(tr -d '\r' <"$tmp/paced-window.out" |
  grep '^Get Data: ') (whole test process)"
echo "wine-tests: $(tr -d '\r' <"$tmp/paced-window.out" | grep '^Clicks during the transfer: ')"

# 3. What Windows shows of each program: the version resource as File properties reads it, the
#    icon in every size, and the manifest's settings.
for exe in "$cli_exe" "$root/$windows/win/brelin.exe"; do
  name=$(basename "$exe")
  "$wine" "$dump_exe" "Z:$exe" 2>&1 | tr -d '\r' >"$tmp/resources.txt" || fail "resource_dump $name"
  for line in "Fixed=$version.0" "FileVersion=$version" "ProductVersion=$version" \
    "ProductName=Brelin" "CompanyName=Brelin developers" "OriginalFilename=$name" \
    "IconSizes=16 32 48 64 128 256"; do
    grep -qxF "$line" "$tmp/resources.txt" ||
      { cat "$tmp/resources.txt" >&2; fail "$name lacks $line"; }
  done
  for setting in '>UTF-8</activeCodePage>' '>PerMonitorV2</dpiAwareness>' 'level="asInvoker"' \
    'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
    'supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"'; do
    grep -qF "$setting" "$tmp/resources.txt" || fail "$name: its manifest lacks $setting"
  done
  echo "wine-tests: $name shows version $version, $(grep ^FileDescription= "$tmp/resources.txt" |
    cut -d= -f2), its icon and its manifest"
done

# brelin-cli ports names a port as Device Manager does. Wine keeps no Plug and Play record of
# its COM ports, so the test makes Ports-class records: one for COM1 with a name beyond ASCII, one
# for a COM250 that is not there and must not be listed.
records='HKLM\System\CurrentControlSet\Enum\ROOT\PORTS'
port_record() {  # instance, PortName, FriendlyName
  "$wine" reg add "$records\\$1" /v ClassGUID /t REG_SZ /f \
    /d '{4D36E978-E325-11CE-BFC1-08002BE10318}' >/dev/null 2>&1 &&
    "$wine" reg add "$records\\$1" /v FriendlyName /t REG_SZ /d "$3" /f >/dev/null 2>&1 &&
    "$wine" reg add "$records\\$1\\Device Parameters" /v PortName /t REG_SZ /d "$2" /f \
      >/dev/null 2>&1 || fail "could not make the device record of $2"
}
port_record 0000 COM1 "USB-Seriell-Gerät (COM1)"
port_record 0001 COM250 "Bluetooth link (COM250)"
"$wine" "$cli_exe" ports 2>&1 | tr -d '\r' >"$tmp/ports.txt" || fail "ports"
"$wine" reg delete "$records" /f >/dev/null 2>&1
grep -qx '0 *COM1 *\\\\\.\\COM1 *USB-Seriell-Gerät (COM1)' "$tmp/ports.txt" &&
  ! grep -q COM250 "$tmp/ports.txt" ||
  { cat "$tmp/ports.txt" >&2; fail "ports: the names Device Manager shows"; }
echo "wine-tests: ports shows COM1 as $(grep -o 'USB-Seriell.*' "$tmp/ports.txt")," \
  "and no absent COM250"

# Ports that cannot be used: an index above 255 is refused as usage, a missing port fails.
status=0
"$wine" "$cli_exe" erase --port 300 2>/dev/null || status=$?
((status == 2)) || fail "erase --port 300 gave exit status $status, not 2"
status=0
"$wine" "$cli_exe" erase --port 'COM200' --yes 2>"$tmp/missing.err" || status=$?
((status == 1)) || fail "erase on a missing COM200 gave exit status $status, not 1"
echo "wine-tests: port 300 is a usage error, a missing COM200 fails: $(tail -1 "$tmp/missing.err")"

# A simulator that goes away in the middle of a paced download.
start_peer "$sim_bin" --link "$link" --records 3000 --seed 7 --baud 9600
timeout 120 "$wine" "$cli_exe" get-data --port COM1 -o gone.txt >"$tmp/gone.out" 2>&1 &
cli_pid=$!
for _ in $(seq 200); do
  grep -q 'transfer start' "$tmp/peer.err" && break
  sleep 0.05
done
sleep 0.5
stop_peer
start=$SECONDS
status=0
wait "$cli_pid" || status=$?
tr -d '\r' <"$tmp/gone.out" | tail -2
((status == 1)) || fail "a line that went away gave exit status $status, not 1"
grep -q 'the serial line went away' "$tmp/gone.out" ||
  fail "a line that went away was not named as the reason"
echo "wine-tests: a line that goes away mid-transfer fails after $((SECONDS - start)) s"
passed=$((passed + 10))  # the ten checks above

msi_tests
passed=$((passed + 2))
window_tests
echo "wine: $passed passed, 0 failed"
