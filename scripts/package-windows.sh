#!/usr/bin/env bash
# Builds the Windows packages from the MinGW build into <build>/packages and checks what they hold:
#   brelin-<version>-x64.msi    the installer (wixl, dist/windows/brelin.wxs)
#   brelin-<version>-win64.zip  the portable folder (cpack -G ZIP)
# Both hold brelin.exe, brelin-cli.exe and README.txt.
#   WINDOWS_BUILD=DIR     the MinGW build directory (default build/windows)
#   --also-msi VERSION    also an MSI of the same files that says it is VERSION (wine-tests.sh
#                         installs an older one and upgrades it)
set -euo pipefail
cd "$(dirname "$0")/.."
windows=${WINDOWS_BUILD:-build/windows}
also=
if [[ ${1:-} == --also-msi ]]; then
  also=${2:?--also-msi needs a version}
fi
version=$(sed -n 's/^project(brelin VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

fail() {
  echo "package-windows: FAILED: $*" >&2
  exit 1
}

cmake --preset windows -B "$windows" >/dev/null
cmake --build "$windows" -j2 >/dev/null
out=$(realpath "$windows")/packages
stage=$out/stage
rm -rf "$out"
mkdir -p "$out"
cmake --install "$windows" --prefix "$stage" --strip >/dev/null
cp "$windows/brelin.ico" "$out/"

# wixl finds files by names relative to where it runs.
make_msi() {
  (cd "$stage" && wixl -a x64 -D Version="$1" -D SourceDir=. -D Icon=../brelin.ico \
    -o "$2" "$OLDPWD/dist/windows/brelin.wxs" 2>&1 |
    grep -v '^$' >&2 || true)
  [[ -s $2 ]] || fail "wixl made no $2"
}
msi=$out/brelin-$version-x64.msi
make_msi "$version" "$msi"
[[ -z $also ]] || make_msi "$also" "$out/brelin-$also-x64.msi"

(cd "$out" && cpack --config ../CPackConfig.cmake -G ZIP -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages" "$stage" "$out/brelin.ico"
zip=$out/brelin-$version-win64.zip

msi_files=$(msiinfo export "$msi" File | tail -n +4 | cut -f3 | sort)
zip_files=$(python3 -m zipfile -l "$zip" | tail -n +2 | awk '{print $1}' | sed 's|^[^/]*/||' |
  grep -v '^$' | sort)
want=$(printf '%s\n' brelin.exe brelin-cli.exe README.txt | sort)
[[ $msi_files == "$want" ]] || fail "the MSI holds $(echo $msi_files), not $(echo $want)"
[[ $zip_files == "$want" ]] || fail "the ZIP holds $(echo $zip_files), not $(echo $want)"
[[ $(msiinfo export "$msi" Property | awk '$1 == "ProductVersion" {print $2}' | tr -d '\r') == \
  "$version" ]] || fail "the MSI does not say version $version"
echo "package-windows: $msi and $zip hold $(echo $want)"
