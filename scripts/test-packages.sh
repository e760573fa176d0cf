#!/usr/bin/env bash
# Checks what users install:
#   1. both manual pages render without a warning;
#   2. the Windows zip holds the programs and a CR LF text (with stand-ins);
#   3. the Debian package: built, installed, its programs run once from the
#      installed paths, its manual pages found by man, then removed cleanly.
# Step 3 installs a package on this machine, so it runs only as root with
# apt-get and dpkg, and only in CI or with TEST_PACKAGES=1; else SKIPPED.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
work=$(mktemp -d)
installed=false

fail() {
  echo "test-packages: FAILED: $*" >&2
  exit 1
}

cleanup() {
  # A failed step must not leave the package on the machine.
  if $installed; then
    apt-get remove -y bundra > /dev/null 2>&1 || dpkg --remove bundra > /dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# A page passes when the formatters say nothing about it.
check_page() {
  local page=$1 source=$work/page.1
  case "$page" in
    *.gz) zcat "$page" > "$source" ;;
    *) cp "$page" "$source" ;;
  esac
  local messages
  messages=$(groff -ww -z -man "$source" 2>&1) || fail "groff failed on $page"
  [ -z "$messages" ] || fail "groff warns about $page: $messages"
  if command -v mandoc > /dev/null; then
    messages=$(mandoc -Tlint -W warning "$source" 2>&1) || fail "mandoc warns about $page: $messages"
  elif [ "${CI:-}" = "true" ]; then
    fail "mandoc is missing"
  fi
  if command -v man > /dev/null; then
    messages=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 > "$work/page.txt") ||
      fail "man -l failed on $page"
    [ -z "$messages" ] || fail "man -l warns about $page: $messages"
    grep -q '^NAME' "$work/page.txt" || fail "man -l shows no NAME section for $page"
  fi
}

# ---- 1. Manual pages ----------------------------------------------------------
if command -v groff > /dev/null || [ "${CI:-}" = "true" ]; then
  for page in man/bundra.1 man/spillet.1; do check_page "$page"; done
  echo "test-packages: manual pages render without warnings"
else
  echo "test-packages: manual pages SKIPPED (no groff: apt-get install groff-base mandoc)"
fi

# ---- 2. Windows zip, with stand-ins for the programs ----------------------------
mkdir "$work/win"
out=$(bash scripts/package-windows.sh "$work/win") || fail "package-windows.sh failed without programs"
[[ "$out" == *SKIPPED* ]] || fail "package-windows.sh did not say SKIPPED: $out"
if bash scripts/package-windows.sh --require "$work/win" > /dev/null 2>&1; then
  fail "package-windows.sh --require succeeded without programs"
fi
printf 'MZ bundra' > "$work/win/BUNDRA.EXE"
printf 'MZ spillet' > "$work/win/SPILLET.EXE"
bash scripts/package-windows.sh "$work/win" "$work/zip" > /dev/null
zip=$(ls "$work"/zip/bundra-*-win32.zip)
mkdir "$work/unzipped"
(cd "$work/unzipped" && cmake -E tar xf "$zip")
listing=$(cd "$work/unzipped" && find . -type f | sort | tr '\n' ' ')
[[ "$listing" =~ ^\./bundra-[0-9.]+-win32/BUNDRA\.EXE\ \./bundra-[0-9.]+-win32/README\.TXT\ \./bundra-[0-9.]+-win32/SPILLET\.EXE\ $ ]] ||
  fail "the zip holds: $listing"
cmp -s "$work/win/BUNDRA.EXE" "$work"/unzipped/*/BUNDRA.EXE || fail "BUNDRA.EXE changed in the zip"
readme=$(ls "$work"/unzipped/*/README.TXT)
if grep -q $'[^\r]$\|^$' "$readme"; then fail "README.TXT has a line without CR LF"; fi
echo "test-packages: the Windows zip holds both programs and README.TXT with CR LF"

# ---- 3. Debian package ------------------------------------------------------------
skip() {
  echo "test-packages: Debian package SKIPPED: $*"
  exit 0
}
[ "$(id -u)" = 0 ] || skip "not root"
command -v apt-get > /dev/null && command -v dpkg > /dev/null || skip "no apt-get or dpkg"
[ "${CI:-}" = "true" ] || [ "${TEST_PACKAGES:-}" = 1 ] ||
  skip "it installs a package on this machine; run with TEST_PACKAGES=1"
if dpkg-query -W -f '${Status}' bundra 2> /dev/null | grep -q 'ok installed'; then
  skip "a bundra package is installed already"
fi
[ -f "$build/CPackConfig.cmake" ] || fail "no $build/CPackConfig.cmake: build first"

rm -rf "$build/packages"
cpack --config "$build/CPackConfig.cmake" > "$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log"
  fail "cpack failed"
}
deb=$(cd "$build/packages" && ls "$PWD"/bundra_*.deb)

# Exactly the programs and their pages, under /usr.
files=$(dpkg-deb -c "$deb" | awk '$NF !~ /\/$/ {print $NF}' | sort | tr '\n' ' ')
expected="./usr/bin/bundra ./usr/bin/spillet ./usr/share/man/man1/bundra.1.gz ./usr/share/man/man1/spillet.1.gz "
[ "$files" = "$expected" ] || fail "the package holds: $files"
for field in Maintainer Section Description; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "the package has no $field"
done
depends=$(dpkg-deb -f "$deb" Depends)
# The C++ run time is linked into the programs: the C library is all they need.
[[ "$depends" == libc6* && "$depends" != *libstdc++* ]] || fail "the package depends on: $depends"

installed=true
apt-get install -y -o DPkg::Lock::Timeout=120 "$deb" > "$work/apt.log" 2>&1 || {
  cat "$work/apt.log"
  fail "apt-get install failed"
}

# Pack a small tree with the installed bundra, unpack it with the installed spillet.
mkdir -p "$work/tree/sub" "$work/out"
printf 'first\r\n' > "$work/tree/A.TXT"
printf '\000\001\002 binary\n' > "$work/tree/sub/B.DAT"
(cd "$work/tree" && /usr/bin/bundra pack > "$work/bundra.log") ||
  fail "installed bundra ended with $?: $(cat "$work/bundra.log")"
grep -q $'^Adding sub\\\\B.DAT...\r$' "$work/bundra.log" || fail "bundra's output: $(cat "$work/bundra.log")"
(cd "$work/out" && /usr/bin/spillet ../tree/GOB/pack.gob > "$work/spillet.log") ||
  fail "installed spillet ended with $?: $(cat "$work/spillet.log")"
grep -q $'^Number of files in archive: 2\r$' "$work/spillet.log" ||
  fail "spillet's output: $(cat "$work/spillet.log")"
diff -r --exclude=GOB "$work/tree" "$work/out" || fail "the unpacked tree differs"
status=0
(cd "$work/out" && /usr/bin/spillet missing > /dev/null) || status=$?
[ "$status" = 2 ] || fail "installed spillet on a missing archive ended with $status, not 2"
status=0
(cd "$work/out" && /usr/bin/bundra > /dev/null) || status=$?
[ "$status" = 1 ] || fail "installed bundra without an argument ended with $status, not 1"

# man finds the pages where they were installed, and they render cleanly.
for program in bundra spillet; do
  [ "$(man -w "$program")" = "/usr/share/man/man1/$program.1.gz" ] ||
    fail "man -w $program gives $(man -w "$program" 2>&1)"
  check_page "/usr/share/man/man1/$program.1.gz"
done
echo "test-packages: the installed programs pack and unpack; man shows both pages"

apt-get remove -y -o DPkg::Lock::Timeout=120 bundra > "$work/apt.log" 2>&1 || {
  cat "$work/apt.log"
  fail "apt-get remove failed"
}
installed=false
for file in /usr/bin/bundra /usr/bin/spillet /usr/share/man/man1/bundra.1.gz \
  /usr/share/man/man1/spillet.1.gz; do
  [ ! -e "$file" ] || fail "$file is still there after removal"
done
status=$(dpkg-query -W -f '${Status}' bundra 2> /dev/null || true)
case "$status" in
  *" installed" | *config-files* | *half-*) fail "dpkg still lists bundra: $status" ;;
esac
echo "test-packages: $(basename "$deb") installs and is removed cleanly"
