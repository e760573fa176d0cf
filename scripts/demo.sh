#!/usr/bin/env bash
# Packs the sample tree with bundra, unpacks it with spillet into a fresh
# folder, and shows that the two trees are the same.
set -euo pipefail
bundra=$1 spillet=$2 sample=$3 work=$4

rm -rf "$work"
mkdir -p "$work"
cp -r "$sample" "$work/tree"
echo "== bundra SAMPLE (in $work/tree)"
(cd "$work/tree" && "$bundra" SAMPLE)
echo "== archive: $(stat -c %s "$work/tree/GOB/SAMPLE.GOB") bytes"
mkdir "$work/unpacked"
cp "$work/tree/GOB/SAMPLE.GOB" "$work/unpacked/"
echo "== spillet SAMPLE (in $work/unpacked)"
(cd "$work/unpacked" && "$spillet" SAMPLE)
rm "$work/unpacked/SAMPLE.GOB"
rm -r "$work/tree/GOB"
if diff -r "$work/tree" "$work/unpacked"; then
  echo "== the unpacked tree is the same as the sample tree"
else
  echo "== the trees differ" >&2
  exit 1
fi
