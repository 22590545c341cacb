#!/usr/bin/env bash
# Builds the Debian packages (release preset, cpack) into build/release/packages and checks them
# as a distribution would: desktop-file-validate, appstreamcli validate, lintian with no errors
# (its warnings are printed), the expected files inside, and the man pages readable after
# unpacking.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release
out=build/release/packages
rm -rf "$out"
mkdir -p "$out"
(cd "$out" && cpack --config ../CPackConfig.cmake -G DEB >/dev/null)
version=$(sed -n 's/^project(brelin VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)-1
main=$out/brelin_${version}_amd64.deb
simulator=$out/brelin-simulator_${version}_amd64.deb

desktop-file-validate gui/brelin.desktop
appstreamcli validate --no-net gui/org.example.brelin.metainfo.xml
# Root gets a notice from lintian; the tags are what counts.
lintian --fail-on error "$main" "$simulator" 2>&1 | grep -v 'root privileges' || true
lintian --fail-on error "$main" "$simulator" >/dev/null 2>&1

expect_files() {
  local package=$1
  shift
  local listing
  listing=$(dpkg-deb -c "$package" | awk '{ print $6 }')
  for file in "$@"; do
    grep -qx "./$file" <<<"$listing" || { echo "package.sh: $package lacks $file" >&2; exit 1; }
  done
}
expect_files "$main" usr/bin/brelin usr/bin/brelin-cli usr/share/man/man1/brelin-cli.1.gz \
  usr/share/man/man1/brelin.1.gz usr/share/doc/brelin/copyright \
  usr/share/doc/brelin/changelog.Debian.gz usr/share/bash-completion/completions/brelin-cli \
  usr/share/zsh/vendor-completions/_brelin-cli usr/share/fish/vendor_completions.d/brelin-cli.fish \
  usr/share/applications/brelin.desktop usr/share/metainfo/org.example.brelin.metainfo.xml
expect_files "$simulator" usr/bin/klv480-sim usr/share/man/man1/klv480-sim.1.gz \
  usr/share/doc/brelin-simulator/copyright usr/share/doc/brelin-simulator/changelog.Debian.gz
if dpkg-deb -c "$main" | grep -q klv480-sim; then
  echo "package.sh: the simulator is in the brelin package" >&2
  exit 1
fi

# What 'man brelin-cli' shows once the package is installed.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$main" "$root"
MANPATH=$root/usr/share/man man brelin-cli 2>/dev/null | grep -q "EXIT STATUS" ||
  { echo "package.sh: man brelin-cli shows no EXIT STATUS" >&2; exit 1; }
echo "package.sh: $main and $simulator checked"
