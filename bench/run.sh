#!/usr/bin/env bash
# Times bundra and spillet side by side with tar, bsdtar and cp -r on
# generated workloads, and measures each program's peak memory.
#
#   bash bench/run.sh [-b BUILD_DIR] [-r RUNS] [-w WARMUP] [-o RESULTS_DIR] [W1 W2 W3 W4]
#
# W1: 8192 files of 4 KiB in 64 folders.
# W2: 3000 files of 100 bytes to 4 MB, log-uniform, in nested folders (fixed seed).
# W3: four files of 256 MiB.
# W4: spillet alone, 1024 and then 8192 entries in one folder: the cost per entry.
#
# Needs hyperfine, bsdtar (libarchive-tools), GNU time (/usr/bin/time) and
# python3. The workloads live under $BENCH_TMP (default /tmp) and are removed
# at the end; each needs up to six times its size in free space.
set -euo pipefail

build=build
runs=10
warmup=3
results=
while getopts "b:r:w:o:" option; do
  case $option in
    b) build=$OPTARG ;;
    r) runs=$OPTARG ;;
    w) warmup=$OPTARG ;;
    o) results=$OPTARG ;;
    *) sed -n '5p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
workloads=("$@")
[ ${#workloads[@]} -gt 0 ] || workloads=(W1 W2 W3 W4)

for tool in hyperfine bsdtar tar cp python3 /usr/bin/time; do
  if ! command -v "$tool" > /dev/null; then
    echo "missing: $tool (apt-get install hyperfine libarchive-tools time python3)" >&2
    exit 2
  fi
done
bundra=$(realpath "$build/bundra")
spillet=$(realpath "$build/spillet")
results=$(realpath -m "${results:-$build/bench-results}")
mkdir -p "$results"
work=$(mktemp -d "${BENCH_TMP:-/tmp}/gob-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Writes a workload's tree. Contents are slices of one seeded random pool, so
# every run of the script packs the same bytes.
generate() {
  python3 - "$1" "$2" << 'EOF'
import math, os, random, sys
kind, root = sys.argv[1], sys.argv[2]
rng = random.Random(6)
pool = rng.randbytes(8 << 20)
def put(path, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        done = 0
        while done < size:
            take = min(size - done, 4 << 20)
            start = rng.randrange(0, len(pool) - take + 1)
            f.write(pool[start:start + take])
            done += take
if kind == "W1":
    for i in range(8192):
        put(f"{root}/DIR{i // 128:02d}/FILE{i % 128:03d}.DAT", 4096)
elif kind == "W2":
    tops = ["3DO", "ART", "SOUNDS", "LEVELS", "MUSIC", "TEXTURES", "MODELS", "UI"]
    folders = []
    for top in tops:
        folders.append(top)
        for a in range(rng.randrange(2, 6)):
            folders.append(f"{top}/SUB{a}")
            for b in range(rng.randrange(0, 4)):
                folders.append(f"{top}/SUB{a}/PART{b}")
    for i in range(3000):
        size = int(math.exp(rng.uniform(math.log(100), math.log(4_000_000))))
        put(f"{root}/{rng.choice(folders)}/RES{i:04d}.BIN", size)
elif kind == "W3":
    for i in range(4):
        put(f"{root}/BIG{i}.DAT", 256 << 20)
elif kind.startswith("FLAT"):
    for i in range(int(kind[4:])):
        put(f"{root}/FILE{i:05d}.DAT", 4096)
EOF
}

# Peak resident set size in KiB of one run of a command, in a given folder.
peak() {
  local folder=$1
  shift
  (cd "$folder" && /usr/bin/time -f %M -o "$work/rss" "$@" > /dev/null)
  cat "$work/rss"
}

bench() {
  local name=$1 folder=$2
  shift 2
  (cd "$folder" && hyperfine -N --output=pipe --warmup "$warmup" --runs "$runs" \
    --export-json "$results/$name.json" --export-markdown "$results/$name.md" "$@")
}

# Lets the disk finish what earlier removals left it (on a file system
# mounted with discard, freed blocks are trimmed after the fact), so that
# the first program of the next group does not pay for it.
settle() {
  sync
  sleep "${BENCH_SETTLE:-10}"
}

# Packing: bundra against tar and bsdtar packing the same tree, and cp -r.
# The tree is what tar packs: bundra's GOB folder is removed before each run.
# Before each run the output of the last one is removed and everything
# written so far reaches the disk (sync), so no run pays for another's
# writeback; the sources stay in the page cache.
pack_and_unpack() {
  local w=$1 tree=$work/$1/tree out=$work/$1/x
  mkdir -p "$out"
  bench "$w-pack" "$tree" \
    --prepare "bash -c 'rm -rf $tree/GOB $work/$w/pack.tar $work/$w/copy && sync'" \
    -n bundra "$bundra BENCH" \
    -n "tar -cf" "tar -cf $work/$w/pack.tar ." \
    -n "bsdtar -cf" "bsdtar -cf $work/$w/pack.tar ." \
    -n "cp -r" "cp -r $tree $work/$w/copy"
  rm -rf "$tree/GOB" "$work/$w/copy"
  {
    echo "$w pack bundra $(peak "$tree" "$bundra" BENCH)"
    mv "$tree/GOB/BENCH.GOB" "$work/$w/BENCH.GOB"
    rm -rf "$tree/GOB"
    echo "$w pack tar $(peak "$tree" tar -cf "$work/$w/pack.tar" .)"
    echo "$w pack bsdtar $(peak "$tree" bsdtar -cf "$work/$w/bsd.tar" .)"
    echo "$w pack cp $(peak "$tree" cp -r "$tree" "$work/$w/copy")"
  } >> "$results/rss.txt"
  rm -rf "$work/$w/copy" "$work/$w/bsd.tar"
  settle

  # Unpacking into an empty folder: spillet against tar and bsdtar, and cp -r.
  bench "$w-unpack" "$out" \
    --prepare "bash -c 'find $out -mindepth 1 -delete && sync'" \
    -n spillet "$spillet ../BENCH.GOB" \
    -n "tar -xf" "tar -xf ../pack.tar" \
    -n "bsdtar -xf" "bsdtar -xf ../pack.tar" \
    -n "cp -r" "cp -r $tree/. $out"
  {
    find "$out" -mindepth 1 -delete
    echo "$w unpack spillet $(peak "$out" "$spillet" ../BENCH.GOB)"
    find "$out" -mindepth 1 -delete
    echo "$w unpack tar $(peak "$out" tar -xf ../pack.tar)"
    find "$out" -mindepth 1 -delete
    echo "$w unpack bsdtar $(peak "$out" bsdtar -xf ../pack.tar)"
    find "$out" -mindepth 1 -delete
    echo "$w unpack cp $(peak "$out" cp -r "$tree/." "$out")"
  } >> "$results/rss.txt"
  if ! diff -r "$tree" "$out" > /dev/null; then
    echo "$w: the tree cp -r copied differs from the original" >&2
    exit 1
  fi
  find "$out" -mindepth 1 -delete
  (cd "$out" && "$spillet" ../BENCH.GOB > /dev/null)
  if ! diff -r "$tree" "$out" > /dev/null; then
    echo "$w: the tree spillet unpacked differs from the original" >&2
    exit 1
  fi
}

# Extracting into one folder must cost no more per entry with 8192 entries
# than with 1024: names are matched ignoring case, and that must stay linear.
per_entry() {
  local n
  for n in 1024 8192; do
    local tree=$work/FLAT$n/tree out=$work/FLAT$n/x
    generate "FLAT$n" "$tree"
    (cd "$tree" && "$bundra" FLAT > /dev/null)
    mv "$tree/GOB/FLAT.GOB" "$work/FLAT$n/FLAT.GOB"
    mkdir -p "$out"
    bench "W4-$n" "$out" --prepare "bash -c 'find $out -mindepth 1 -delete && sync'" \
      -n "spillet $n" "$spillet ../FLAT.GOB"
    rm -rf "${work:?}/FLAT$n"
  done
}

rm -f "$results/rss.txt"
for w in "${workloads[@]}"; do
  echo "== $w: generating"
  case $w in
    W1 | W2 | W3)
      generate "$w" "$work/$w/tree"
      echo "== $w: $(du -sh "$work/$w/tree" | cut -f1) in $(find "$work/$w/tree" -type f | wc -l) files"
      settle
      pack_and_unpack "$w"
      rm -rf "${work:?}/$w"
      ;;
    W4) per_entry ;;
    *) echo "unknown workload: $w" >&2; exit 2 ;;
  esac
done

# The summary: medians, ratios and peak memory per workload.
python3 - "$results" << 'EOF' | tee "$results/summary.md"
import json, os, sys
results = sys.argv[1]
rss = {}
if os.path.exists(f"{results}/rss.txt"):
    for line in open(f"{results}/rss.txt"):
        w, op, prog, kib = line.split()
        rss[(w, op, prog)] = int(kib)
def medians(name):
    with open(f"{results}/{name}.json") as f:
        return {r["command"]: r["median"] for r in json.load(f)["results"]}
def cpu(name):
    with open(f"{results}/{name}.json") as f:
        return {r["command"]: r["user"] + r["system"] for r in json.load(f)["results"]}
def ms(s):
    return f"{s * 1000:.1f}"
def mib(w, op, prog):
    kib = rss.get((w, op, prog))
    return "" if kib is None else f"{kib / 1024:.1f}"
print("| workload | ours | median ms: ours | tar | bsdtar | cp -r | ours/tar | ours/bsdtar | ours/cp "
      "| peak MiB: ours | tar | bsdtar | cp -r |")
print("|---|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|")
def groups():
    """Each measured group: workload, operation, our program, tar's and bsdtar's commands."""
    for w in ["W1", "W2", "W3"]:
        for op, ours, tar, bsd in [("pack", "bundra", "tar -cf", "bsdtar -cf"),
                                   ("unpack", "spillet", "tar -xf", "bsdtar -xf")]:
            if os.path.exists(f"{results}/{w}-{op}.json"):
                yield w, op, ours, tar, bsd
def times_and_ratios(w, ours, tar, bsd, m):
    o = m[ours]
    return (f"| {w} | {ours} | {ms(o)} | {ms(m[tar])} | {ms(m[bsd])} | {ms(m['cp -r'])} "
            f"| {o / m[tar]:.2f} | {o / m[bsd]:.2f} | {o / m['cp -r']:.2f} |")
for w, op, ours, tar, bsd in groups():
    print(times_and_ratios(w, ours, tar, bsd, medians(f"{w}-{op}"))
          + f" {mib(w, op, ours)} | {mib(w, op, 'tar')} | {mib(w, op, 'bsdtar')} "
          f"| {mib(w, op, 'cp')} |")
print()
print("CPU time (user + system, mean ms), steadier than the wall time on a busy machine:")
print()
print("| workload | ours | ours | tar | bsdtar | cp -r | ours/tar | ours/bsdtar | ours/cp |")
print("|---|---|--:|--:|--:|--:|--:|--:|--:|")
for w, op, ours, tar, bsd in groups():
    print(times_and_ratios(w, ours, tar, bsd, cpu(f"{w}-{op}")))
if os.path.exists(f"{results}/W4-1024.json") and os.path.exists(f"{results}/W4-8192.json"):
    small = medians("W4-1024")["spillet 1024"] / 1024
    large = medians("W4-8192")["spillet 8192"] / 8192
    print()
    print(f"W4, spillet into one folder: {small * 1e6:.1f} us per entry with 1024 entries, "
          f"{large * 1e6:.1f} us with 8192 (ratio {large / small:.2f})")
EOF
echo "results in $results"
