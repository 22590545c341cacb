#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build (warnings are errors), the Debian packages
# and their checks, the same tests under AddressSanitizer + UBSan, a short run of each fuzz target,
# and the Windows build with its tests under Wine and its packages (MSI, ZIP).
#   FUZZ_SECONDS=N   seconds per fuzz target (default 60; 0 skips fuzzing)
#   WINE_TESTS=0     skips the tests under Wine (the Windows packages are still built)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

# Every tracked C++ file as .clang-format lays it out.
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --preset dev

# A short soak of the receiver against lrzsz on a faulty line, beside lrzsz rx (bench/soak.sh).
build/dev/bench/xfer_soak 3 7 600 60

# The Debian packages, checked with desktop-file-validate, appstreamcli and lintian.
scripts/package.sh

cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

if [[ "${FUZZ_SECONDS:-60}" != 0 ]]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
fi

# Windows: the MinGW-w64 build of the core, brelin-cli.exe and brelin.exe, tested under Wine
# against the dev build's pty peer and simulator; its MSI and ZIP (scripts/package-windows.sh), the
# MSI installed, upgraded and removed under Wine. WINE_TESTS=0 skips Wine; the packages are still
# made and checked.
if [[ "${WINE_TESTS:-1}" != 0 ]]; then
  if ! LINUX_BUILD=build/dev scripts/wine-tests.sh; then
    echo "test.sh: FAILED: the Windows build or its tests under Wine (scripts/wine-tests.sh)" >&2
    exit 1
  fi
else
  scripts/package-windows.sh
fi
