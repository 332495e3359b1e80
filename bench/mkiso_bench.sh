#!/usr/bin/env bash
# Compares `brennix-cli mkiso` with `xorriso -as mkisofs -R -J` and `genisoimage -R -J` (mkiso
# writes Rock Ridge and Joliet by default) on the same trees, in one run: (a) 200,000 small
# files in 20,000 folders, (b) three files of 1 GiB. Prints wall time, CPU time (user +
# system) and peak memory of each, and our ratio to each peer (below 1.00 means we are faster
# / smaller). For the large files also the copy floor: `cat` of the same files into one
# output file, and our ratio to it. Then (c) the cost per entry: mkiso of trees of 100,000,
# 500,000 and 1,000,000 entries (gen_tree.pl entries: tiny files, 49 to a folder), time, CPU
# time (less shaken by a busy machine than wall time) and peak memory per entry, and how far
# the three lie apart (largest / smallest). And (d) cold: mkiso of the small tree with the
# page cache dropped before each run, against the read floor `tar cf - TREE | cat > /dev/null`
# dropped the same way (needs root; a tree on a tmpfs has no cold state, so give a
# BRENNIX_BENCH_DIR on a disk).
#
#   bench/mkiso_bench.sh [path/to/brennix-cli]
#
# BRENNIX_BENCH_DIR  where the trees and images go (default bench/out; the trees are
#                    generated once and reused). A tmpfs (/dev/shm/...) takes the disk out of
#                    the figures: the trees need about 4 GiB there, the images 4 GiB more.
# BRENNIX_BENCH_ROUNDS  runs per tool and tree; the best wall time counts (default 3)
# BRENNIX_BENCH_TREES   "small large scale cold" (default) or some of them
# BRENNIX_BENCH_SCALE   entry counts of the cost-per-entry trees (default "100000 500000 1000000")
# BRENNIX_BENCH_MKISO_ARGS  extra options for our mkiso (e.g. "--cache-size 2097152")
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$here/build/src/cli/brennix-cli}
work=${BRENNIX_BENCH_DIR:-$here/bench/out}
rounds=${BRENNIX_BENCH_ROUNDS:-3}
trees=${BRENNIX_BENCH_TREES:-small large scale cold}
scale=${BRENNIX_BENCH_SCALE:-100000 500000 1000000}
read -r -a extra <<<"${BRENNIX_BENCH_MKISO_ARGS:-}"

for tool in "$cli" /usr/bin/time xorriso genisoimage; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/install-deps.sh)" >&2; exit 1; }
done
mkdir -p "$work"

for tree in $trees; do
  [ "$tree" = scale ] && continue
  [ "$tree" = cold ] && tree=small
  if [ ! -e "$work/$tree.done" ]; then
    echo "== generating the $tree tree in $work/$tree (once)"
    rm -rf "${work:?}/$tree"
    perl "$here/bench/gen_tree.pl" "$tree" "$work/$tree"
    touch "$work/$tree.done"
  fi
done

# One timed run: prints "wall cpu peak_kib" and removes the image.
measure() {
  local log=$1; shift
  local out=$work/bench.iso
  rm -f "$out"
  # Options first, then "-o OUT", then the source (genisoimage wants it that way).
  local src=${*: -1}
  local args=("${@:1:$#-1}")
  /usr/bin/time -f "TIME %e %U %S %M" -o "$work/time.txt" "${args[@]}" -o "$out" "$src" \
    >"$log" 2>&1 ||
    { echo "FAILED: $* (see $log)" >&2; tail -5 "$log" >&2; rm -f "$out"; return 1; }
  local size
  size=$(stat -c %s "$out")
  rm -f "$out"
  awk -v size="$size" '/^TIME/ { printf "%s %.2f %s %s\n", $2, $3 + $4, $5, size }' "$work/time.txt"
}

# Keeps the better of two "wall cpu peak size" lines (lower wall time).
better() {
  if [ -z "$2" ] || awk -v a="$1" -v b="$2" 'BEGIN { split(a, x); split(b, y); exit !(x[1] < y[1]) }'; then
    echo "$1"
  else
    echo "$2"
  fi
}

# The copy floor: every file of $1 into one output file with cat; prints "wall cpu".
copy_floor() {
  local out=$work/floor.out
  rm -f "$out"
  /usr/bin/time -f "TIME %e %U %S" -o "$work/time.txt" \
    sh -c 'find "$1" -type f -print0 | sort -z | xargs -0 cat > "$0"' "$out" "$1"
  rm -f "$out"
  awk '/^TIME/ { printf "%s %.2f\n", $2, $3 + $4 }' "$work/time.txt"
}

printf '%-8s %-12s %10s %10s %12s %14s\n' tree tool wall_s cpu_s peak_MiB image_MiB
for tree in $trees; do
  [ "$tree" = scale ] || [ "$tree" = cold ] && continue
  src=$work/$tree
  # Warm the page cache so that every tool reads the same way.
  find "$src" -type f -print0 | xargs -0 cat >/dev/null
  ours="" xor="" gen=""
  # The tools take turns in every round, so a busy moment of the machine does not fall on
  # one of them alone; each starts with no dirty pages left by the one before.
  for ((r = 1; r <= rounds; r++)); do
    sync
    ours=$(better "$(measure "$work/brennix-$tree.log" "$cli" mkiso "${extra[@]}" --label BENCH "$src")" "$ours")
    sync
    xor=$(better "$(measure "$work/xorriso-$tree.log" xorriso -as mkisofs -R -J -V BENCH "$src")" "$xor")
    sync
    gen=$(better "$(measure "$work/genisoimage-$tree.log" genisoimage -quiet -R -J -V BENCH "$src")" "$gen")
    if [ "$tree" = large ]; then
      sync
      floor=$(better "$(copy_floor "$src")" "${floor:-}")
    fi
  done
  for entry in "brennix:$ours" "xorriso:$xor" "genisoimage:$gen"; do
    name=${entry%%:*}
    awk -v v="${entry#*:}" -v t="$tree" -v n="$name" 'BEGIN { split(v, x);
      printf "%-8s %-12s %10s %10s %12.1f %14.1f\n", t, n, x[1], x[2], x[3] / 1024, x[4] / 1048576 }'
  done
  for entry in "xorriso:$xor" "genisoimage:$gen"; do
    name=${entry%%:*}
    awk -v o="$ours" -v p="${entry#*:}" -v t="$tree" -v n="$name" 'BEGIN {
      split(o, a); split(p, b);
      printf "%-8s brennix/%-11s wall %.2f  cpu %.2f  peak memory %.2f\n", t, n,
        (b[1] > 0 ? a[1] / b[1] : 0), (b[2] > 0 ? a[2] / b[2] : 0), (b[3] > 0 ? a[3] / b[3] : 0) }'
  done
  if [ "$tree" = large ]; then
    awk -v o="$ours" -v f="$floor" 'BEGIN { split(o, a); split(f, b);
      printf "large    copy floor (cat)     wall %6.2f s  cpu %6.2f s\n", b[1], b[2];
      printf "large    brennix/copy floor   wall %.2f  cpu %.2f\n",
        (b[1] > 0 ? a[1] / b[1] : 0), (b[2] > 0 ? a[2] / b[2] : 0) }'
  fi
done

# (c) The cost of an entry: one run per size (the trees are large; the spread between sizes
# is what counts).
if [[ " $trees " == *" scale "* ]]; then
  printf '%-8s %10s %10s %12s %14s %14s %14s\n' scale entries wall_s peak_MiB us_per_entry \
    cpu_us_per_entry bytes_per_entry
  lines=""
  for n in $scale; do
    src=$work/entries-$n
    if [ ! -e "$src.done" ]; then
      echo "== generating a tree of $n entries in $src (once)"
      rm -rf "$src"
      mkdir -p "$src"
      perl "$here/bench/gen_tree.pl" entries "$n" "$src"
      touch "$src.done"
    fi
    find "$src" -type f -print0 | xargs -0 cat >/dev/null
    sync
    r=$(measure "$work/brennix-entries-$n.log" "$cli" mkiso "${extra[@]}" --label BENCH "$src")
    lines+="$n $r"$'\n'
    awk -v n="$n" -v v="$r" 'BEGIN { split(v, x);
      printf "%-8s %10d %10s %12.1f %14.2f %14.2f %14.0f\n", "scale", n, x[1], x[3] / 1024,
        x[1] * 1e6 / n, x[2] * 1e6 / n, x[3] * 1024 / n }'
  done
  printf '%s' "$lines" | awk '{ t = $2 / $1; c = $3 / $1; m = $4 * 1024 / $1;
      if (NR == 1 || t > tmax) tmax = t; if (NR == 1 || t < tmin) tmin = t;
      if (NR == 1 || c > cmax) cmax = c; if (NR == 1 || c < cmin) cmin = c;
      if (NR == 1 || m > mmax) mmax = m; if (NR == 1 || m < mmin) mmin = m }
    END { if (NR > 0) printf "scale    per entry, largest/smallest: time %.2f  cpu %.2f  peak memory %.2f\n",
      (tmin > 0 ? tmax / tmin : 0), (cmin > 0 ? cmax / cmin : 0), (mmin > 0 ? mmax / mmin : 0) }'
fi

# (d) Cold cache: every run starts with the page cache dropped.
if [[ " $trees " == *" cold "* ]]; then
  if [ -w /proc/sys/vm/drop_caches ] && sync && echo 3 >/proc/sys/vm/drop_caches 2>/dev/null; then
    src=$work/small
    cold_ours="" cold_tar=""
    for ((r = 1; r <= rounds; r++)); do
      sync && echo 3 >/proc/sys/vm/drop_caches
      cold_ours=$(better "$(measure "$work/brennix-cold.log" "$cli" mkiso "${extra[@]}" --label BENCH "$src")" "$cold_ours")
      sync && echo 3 >/proc/sys/vm/drop_caches
      /usr/bin/time -f "TIME %e %U %S" -o "$work/time.txt" sh -c 'tar cf - -C "$0" . | cat >/dev/null' "$src"
      cold_tar=$(better "$(awk '/^TIME/ { printf "%s %.2f\n", $2, $3 + $4 }' "$work/time.txt")" "$cold_tar")
    done
    awk -v o="$cold_ours" -v t="$cold_tar" 'BEGIN { split(o, a); split(t, b);
      printf "cold     tar cf - | cat        wall %6.2f s  cpu %6.2f s\n", b[1], b[2];
      printf "cold     brennix mkiso         wall %6.2f s  cpu %6.2f s\n", a[1], a[2];
      printf "cold     brennix/tar           wall %.2f (target at most 1.00)\n", (b[1] > 0 ? a[1] / b[1] : 0) }'
  else
    echo "cold     skipped: dropping the page cache needs root (/proc/sys/vm/drop_caches)"
  fi
fi
