#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Brelin needs. Safe to run
# again: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  cmake make g++ pkg-config           # toolchain
  libgtest-dev libgmock-dev           # unit tests
  libbenchmark-dev                    # bench/
  libcli11-dev                        # brelin-cli
  clang libclang-rt-14-dev            # libFuzzer targets
  clang-format                        # the layout check of scripts/test.sh
  lrzsz                               # an independent XMODEM sender for the transfer tests
  qt6-base-dev                        # brelin, the desktop program
  qt6-charts-dev libqt6opengl6-dev    # the trend chart of the window (Qt Charts needs Qt OpenGL)
  libsqlite3-dev                      # the history of readings (history/)
  xvfb xauth                          # screenshots of the desktop program
  x11-apps netpbm                     # xwd and its converters: the screenshot of brelin.exe
  locales                             # a decimal-comma locale for the locale-independence tests
  time                                # peak memory of the downloads in bench/scale.sh
  g++-mingw-w64-x86-64-posix wine64   # the Windows build and its tests under Wine
  googletest                          # GoogleTest sources, built with MinGW for those tests
  icoutils                            # icotool: the Windows programs' icon, made from the PNGs
  wixl                                # the Windows installer (MSI), scripts/package-windows.sh
  help2man                            # the man pages, made from --help at build time
  lintian desktop-file-utils appstream  # the checks of the Debian packages (scripts/package.sh)
  python3                             # reads back the JSON of 'brelin-cli ports --json' in a test
  zsh fish                            # syntax checks of the zsh and fish completion
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: missing packages: ${missing[*]} (run as root, or install them)" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A decimal-comma locale, so tests can prove that reports do not depend on the user's locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  if [[ $(id -u) -eq 0 ]]; then
    sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen 2>/dev/null || true
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null 2>&1 || true
  fi
fi
