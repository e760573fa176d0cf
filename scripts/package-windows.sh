#!/usr/bin/env bash
# Zips the two Windows programs with a short text on their use:
#   scripts/package-windows.sh [--require] [FOLDER [OUTPUT_FOLDER]]
# FOLDER holds BUNDRA.EXE and SPILLET.EXE (default build-win32); the zip goes
# to OUTPUT_FOLDER (default FOLDER/packages) as bundra-<version>-win32.zip.
# Without the programs it says SKIPPED and succeeds, unless --require is
# given, for a build that is meant to have made them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
require=false
if [ "${1:-}" = "--require" ]; then
  require=true
  shift
fi
folder=${1:-build-win32}
output=${2:-$folder/packages}

version=$(sed -n 's/^project(bundra VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "package-windows: no version in CMakeLists.txt" >&2; exit 1; }
name=bundra-$version-win32

# The programs as the build names them, in upper or lower case.
find_program() {
  find "$folder" -maxdepth 1 -type f -iname "$1" -print -quit 2> /dev/null || true
}
bundra=$(find_program BUNDRA.EXE)
spillet=$(find_program SPILLET.EXE)
if [ -z "$bundra" ] || [ -z "$spillet" ]; then
  message="no BUNDRA.EXE and SPILLET.EXE in $folder (build the Windows programs first)"
  if $require; then
    echo "package-windows: error: $message" >&2
    exit 1
  fi
  echo "package-windows: SKIPPED: $message"
  exit 0
fi
for program in "$bundra" "$spillet"; do
  # A Windows program starts with "MZ"; anything else is the wrong file.
  if [ "$(head -c 2 "$program")" != "MZ" ]; then
    echo "package-windows: error: $program is not a Windows program" >&2
    exit 1
  fi
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/$name"
cp "$bundra" "$stage/$name/BUNDRA.EXE"
cp "$spillet" "$stage/$name/SPILLET.EXE"
# CR LF line ends, whatever a checkout did to the file.
sed 's/\r*$/\r/' "$root/packaging/windows/README.TXT" > "$stage/$name/README.TXT"

mkdir -p "$output"
zip=$(cd "$output" && pwd)/$name.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip "$name")
echo "package-windows: $zip"
