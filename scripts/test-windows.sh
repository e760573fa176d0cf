#!/usr/bin/env bash
# Cross-builds the Windows programs (32-bit into build-win32, 64-bit into
# build-win64), checks the 32-bit ones' imports, and runs the end-to-end
# suites against the 64-bit ones under Wine (this kernel runs no 32-bit
# Windows programs). Without wine or mingw-w64 it is skipped, except in CI.
set -euo pipefail
cd "$(dirname "$0")/.."
native=${BUILD_DIR:-build}
win32=${WIN32_BUILD_DIR:-build-win32}
win64=${WIN64_BUILD_DIR:-build-win64}

source scripts/require-tools.sh
require_tools test-windows "apt-get install wine wine64 g++-mingw-w64-i686 g++-mingw-w64-x86-64" \
  wine wineserver wineboot i686-w64-mingw32-g++ x86_64-w64-mingw32-g++ i686-w64-mingw32-objdump

werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi
for target in i686:"$win32" x86_64:"$win64"; do
  cmake -S . -B "${target#*:}" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-mingw-${target%%:*}.cmake" \
    -DWARNINGS_AS_ERRORS="$werror"
  cmake --build "${target#*:}" -j 2
done
bash scripts/check-imports.sh "$win32/BUNDRA.EXE" "$win32/SPILLET.EXE"
# The zip users download: the 32-bit programs and a short text on their use.
bash scripts/package-windows.sh --require "$win32"

# The end-to-end suites are Linux programs that start the Windows ones.
cmake -S . -B "$native" -DWARNINGS_AS_ERRORS="$werror" > /dev/null
cmake --build "$native" -j 2 --target packer_tests unpacker_tests

# A private Wine prefix; no dialogs (no Mono or Gecko installers), no debug
# chatter, and UTF-8 host names whatever the caller's locale.
export WINEPREFIX
WINEPREFIX=$(realpath "$win64")/wineprefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64 LC_ALL=C.UTF-8
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "test-windows: preparing the Wine prefix (slow the first time)"
  timeout 600 wineboot -i < /dev/null > /dev/null 2>&1 || true
  wineserver -w
fi
# One server for the whole run, detached from our output so it cannot hold a
# pipe open. Wine's server opens the files; as root it could write read-only
# ones, which Windows refuses even to administrators, so it runs without
# root's power to pass over file permissions.
server=(wineserver)
if [ "$(id -u)" = 0 ] && command -v setpriv > /dev/null; then
  server=(setpriv --bounding-set=-dac_override,-dac_read_search wineserver)
fi
wineserver -k > /dev/null 2>&1 || true
"${server[@]}" -p < /dev/null > /dev/null 2>&1
trap 'wineserver -k > /dev/null 2>&1 || true' EXIT

export TEST_TARGET=windows TEST_LAUNCHER=wine
export BUNDRA_EXE SPILLET_EXE
BUNDRA_EXE=$(realpath "$win64/BUNDRA.EXE")
SPILLET_EXE=$(realpath "$win64/SPILLET.EXE")
# The first program a fresh prefix starts may still find it being set up:
# one run whose outcome does not count, so that every test meets a ready Wine.
warm=$(mktemp -d)
(cd "$warm" && wine "$BUNDRA_EXE" > /dev/null 2>&1) || true
rm -rf "$warm"
status=0
for suite in packer_tests unpacker_tests; do
  echo "test-windows: $suite under Wine"
  "$native/tests/$suite" --gtest_brief=1 || status=1
done
exit $status
