#!/usr/bin/env bash
# Compares `brennix-cli mkiso` with `xorriso -as mkisofs -J` and `genisoimage -J` on the
# same trees, in one run: (a) 200,000 small files in 20,000 folders, (b) three files of
# 1 GiB. Prints wall time, CPU time (user + system) and peak memory of each, and our
# ratio to each peer (below 1.00 means we are faster / smaller).
#
#   bench/mkiso_bench.sh [path/to/brennix-cli]
#
# BRENNIX_BENCH_DIR  where the trees and images go (default bench/out; the trees are
#                    generated once and reused)
# BRENNIX_BENCH_ROUNDS  runs per tool and tree; the best wall time counts (default 3)
# BRENNIX_BENCH_TREES   "small large" (default) or one of them
# BRENNIX_BENCH_MKISO_ARGS  extra options for our mkiso (e.g. "--cache-size 2097152")
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$here/build/src/cli/brennix-cli}
work=${BRENNIX_BENCH_DIR:-$here/bench/out}
rounds=${BRENNIX_BENCH_ROUNDS:-3}
trees=${BRENNIX_BENCH_TREES:-small large}
read -r -a extra <<<"${BRENNIX_BENCH_MKISO_ARGS:-}"

for tool in "$cli" /usr/bin/time xorriso genisoimage; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/install-deps.sh)" >&2; exit 1; }
done
mkdir -p "$work"

for tree in $trees; do
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

printf '%-8s %-12s %10s %10s %12s %14s\n' tree tool wall_s cpu_s peak_MiB image_MiB
for tree in $trees; do
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
    xor=$(better "$(measure "$work/xorriso-$tree.log" xorriso -as mkisofs -J -V BENCH "$src")" "$xor")
    sync
    gen=$(better "$(measure "$work/genisoimage-$tree.log" genisoimage -quiet -J -V BENCH "$src")" "$gen")
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
done
