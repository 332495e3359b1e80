#!/usr/bin/env bash
# A drive that is ready must not be waited for. Burns a small tree (about 300 KB) onto a
# virtual recorder with no simulated speed limit and makes an image file of the same tree with
# `mkiso`, taking turns; prints the best wall time of each, and the ratio burn / mkiso. Both do
# the same image work, so what the ratio adds is what the drive's steps cost: fixed sleeps
# before a first look show up as whole seconds. `info` on the same recorder is timed too.
#
#   bench/ready_drive_bench.sh [path/to/brennix-cli]
#
# BRENNIX_BENCH_DIR      where the tree, disc and image go (default bench/out)
# BRENNIX_BENCH_ROUNDS   rounds; the best wall time of each counts (default 5)
# BRENNIX_BENCH_PROFILES virtual disc profiles to burn (default "dvd+r cd-r dvd-r dvd+rw")
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$here/build/src/cli/brennix-cli}
work=${BRENNIX_BENCH_DIR:-$here/bench/out}
rounds=${BRENNIX_BENCH_ROUNDS:-5}
profiles=${BRENNIX_BENCH_PROFILES:-dvd+r cd-r dvd-r dvd+rw}
command -v "$cli" >/dev/null || { echo "missing: $cli" >&2; exit 1; }

mkdir -p "$work"
tree=$work/ready-tree
disc=$work/ready-disc.img
iso=$work/ready.iso
cleanup() { rm -rf "$tree" "$disc" "$disc.state" "$iso" "$iso.part"; }
trap cleanup EXIT
cleanup
mkdir -p "$tree/docs" "$tree/pictures"
for i in 1 2 3; do head -c 50000 /dev/urandom >"$tree/docs/part$i.bin"; done
for i in 1 2 3; do head -c 50000 /dev/urandom >"$tree/pictures/photo$i.bin"; done
echo "a small tree" >"$tree/README.txt"

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f\n", b - a }'; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

# The recorder is always named: without --device a real drive would never be chosen, but a
# bench says what it measures.
run() {
  local profile=$1
  shift
  BRENNIX_VIRTUAL_RECORDER_OPTIONS=speed=unlimited "$cli" --virtual-recorder "$disc:$profile" \
    "$@" --device "$disc" >"$work/ready-bench.log" 2>&1 ||
    { echo "failed: $*" >&2; tail -5 "$work/ready-bench.log" >&2; return 1; }
}

best_mkiso=""
for ((r = 1; r <= rounds; r++)); do
  rm -f "$iso"
  start=$(now)
  "$cli" mkiso -o "$iso" --label READY "$tree" >/dev/null 2>&1
  best_mkiso=$(min "$(since "$start")" "$best_mkiso")
done
printf "%-24s %8.3f s\n" "mkiso" "$best_mkiso"

for profile in $profiles; do
  best_burn="" best_info=""
  for ((r = 1; r <= rounds; r++)); do
    rm -f "$disc" "$disc.state"
    start=$(now)
    run "$profile" info
    best_info=$(min "$(since "$start")" "$best_info")
    start=$(now)
    run "$profile" burn --yes --label READY "$tree"
    best_burn=$(min "$(since "$start")" "$best_burn")
  done
  awk -v p="$profile" -v b="$best_burn" -v i="$best_info" -v m="$best_mkiso" 'BEGIN {
    printf "%-24s %8.3f s   ratio burn / mkiso %6.1f\n", "burn on " p, b, b / m
    printf "%-24s %8.3f s\n", "info on " p, i
  }'
done
