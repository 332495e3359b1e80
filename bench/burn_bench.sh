#!/usr/bin/env bash
# The pipeline must never be what holds a drive back. Two parts, in one run:
#
#  throughput  burns a tree onto a virtual DVD+R with no simulated speed limit and runs
#              `mkiso` of the same tree, taking turns; prints both throughputs (image MB per
#              second of wall time), their CPU times (user + system) and the ratio of the
#              whole burn's wall time to mkiso's (target: at most 0.70). The burn's own data
#              time (first WRITE to last) is shown too: the whole run also holds the drive's
#              fixed ready waits, which do not grow with the tree. On a busy machine the
#              burn's two threads (reader and writer) get more of it than mkiso's one: the
#              CPU times tell the work done apart from the share of the machine.
#  verify      burns the tree onto a virtual DVD+R with no speed limit with and without
#              --verify, taking turns, and prints the ratio (burn + verify) / burn (target: at
#              most 1.40).
#  several     burns the tree onto three virtual recorders that simulate a 16x DVD+R at once
#              (--device three times) and onto one, and prints the ratio of the wall times
#              (target: at most 1.20) and of the bytes the process read (target: 1.0, the
#              sources are read once whatever the number of discs).
#  buffer      burns the tree of 200,000 small files onto a virtual recorder that simulates a
#              16x DVD+R (22,160 kB/s) and a 52x CD-R (7,620 kB/s) and reports the lowest
#              drive-buffer fill seen once the buffer had filled (it must never reach 0).
#
#   bench/burn_bench.sh [path/to/brennix-cli]
#
# BRENNIX_BENCH_DIR        where the trees, discs and images go (default bench/out; the trees
#                          are shared with mkiso_bench.sh and generated once)
# BRENNIX_BENCH_ROUNDS     throughput rounds; the best wall time of each tool counts (default 3)
# BRENNIX_BURN_BENCH_TREE  tree of the throughput and verify parts: large (default) or small
# BRENNIX_BURN_BENCH_PARTS "throughput verify several buffer" (default) or some of them
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$here/build/src/cli/brennix-cli}
work=${BRENNIX_BENCH_DIR:-$here/bench/out}
rounds=${BRENNIX_BENCH_ROUNDS:-3}
tree=${BRENNIX_BURN_BENCH_TREE:-large}
parts=${BRENNIX_BURN_BENCH_PARTS:-throughput verify several buffer}

for tool in "$cli" perl /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
mkdir -p "$work"

needed=""
[[ $parts == *throughput* || $parts == *verify* || $parts == *several* ]] && needed+=" $tree"
[[ $parts == *buffer* ]] && needed+=" small"
for t in $needed; do
  if [ ! -e "$work/$t.done" ]; then
    echo "== generating the $t tree in $work/$t (once)"
    rm -rf "${work:?}/$t"
    perl "$here/bench/gen_tree.pl" "$t" "$work/$t"
    touch "$work/$t.done"
  fi
done

disc=$work/burn-bench-disc.img
iso=$work/burn-bench.iso
cleanup() { rm -f "$disc" "$disc.state" "$iso" "$iso.part" "$work/cpu.txt"; }
trap cleanup EXIT

now() { date +%s.%N; }

# Burns $1 (source) onto a fresh virtual disc of profile $2 with recorder options $3 (and the
# burn options that follow); prints "wall_seconds", leaves the CLI's output in
# $work/burn-bench.log and its CPU time (user + system) in $work/cpu.txt.
burn() {
  cleanup
  local start end entry source=$1 profile=$2 options=$3
  shift 3
  # Named explicitly: a bench says which disc it writes.
  entry=$("$cli" --virtual-recorder "$disc:$profile" devices | grep -m1 'VIRTUAL RECORDER')
  start=$(now)
  BRENNIX_VIRTUAL_RECORDER_OPTIONS=$options /usr/bin/time -f "%U %S" -o "$work/cpu.txt" \
    "$cli" --virtual-recorder "$disc:$profile" burn \
    --yes "$@" --device "$entry" --label BENCH "$source" >"$work/burn-bench.log" 2>&1 ||
    { echo "burn failed:" >&2; tail -5 "$work/burn-bench.log" >&2; return 1; }
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

mkiso() {
  rm -f "$iso"
  local start end
  start=$(now)
  /usr/bin/time -f "%U %S" -o "$work/cpu.txt" \
    "$cli" mkiso -o "$iso" --label BENCH "$1" >"$work/mkiso-bench.log" 2>&1 ||
    { echo "mkiso failed:" >&2; tail -5 "$work/mkiso-bench.log" >&2; return 1; }
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }
cpu() { awk '{ printf "%.2f\n", $1 + $2 }' "$work/cpu.txt"; }

if [[ $parts == *throughput* ]]; then
  src=$work/$tree
  find "$src" -type f -print0 | xargs -0 cat >/dev/null  # the same warm page cache for both
  best_burn="" best_mkiso="" best_data="" cpu_burn="" cpu_mkiso=""
  for ((r = 1; r <= rounds; r++)); do
    sync
    w=$(burn "$src" dvd+r "speed=unlimited")
    best_burn=$(min "$w" "$best_burn")
    cpu_burn=$(min "$(cpu)" "$cpu_burn")
    d=$(sed -n 's/^Data: .* in \([0-9.]*\) s .*/\1/p' "$work/burn-bench.log")
    [ -n "$d" ] && best_data=$(min "$d" "$best_data")
    cleanup  # the disc's room back before mkiso (a tmpfs holds both otherwise)
    sync
    w=$(mkiso "$src")
    best_mkiso=$(min "$w" "$best_mkiso")
    cpu_mkiso=$(min "$(cpu)" "$cpu_mkiso")
    bytes=$(stat -c %s "$iso")
    rm -f "$iso"
  done
  echo "== throughput: tree '$tree', image $((bytes / 1048576)) MiB, best of $rounds"
  awk -v b="$bytes" -v burn="$best_burn" -v mk="$best_mkiso" -v data="${best_data:-0}" \
    -v cb="$cpu_burn" -v cm="$cpu_mkiso" 'BEGIN {
    mb = b / 1048576
    printf "%-28s %8.2f s %9.1f MB/s   cpu %.2f s\n", "mkiso", mk, mb / mk, cm
    printf "%-28s %8.2f s %9.1f MB/s   cpu %.2f s   ratio %.2f\n", "burn (whole run)", burn,
      mb / burn, cb, mk / burn
    if (data > 0)
      printf "%-28s %8.2f s %9.1f MB/s   ratio %.2f\n", "burn (data, first to last WRITE)", data, mb / data, mk / data
    printf "burn / mkiso, wall time: %.2f (target at most 0.70); cpu time: %.2f\n", burn / mk,
      (cm > 0 ? cb / cm : 0)
  }'
fi

if [[ $parts == *verify* ]]; then
  src=$work/$tree
  find "$src" -type f -print0 | xargs -0 cat >/dev/null
  best_plain="" best_verify=""
  for ((r = 1; r <= rounds; r++)); do
    sync
    w=$(burn "$src" dvd+r "speed=unlimited")
    best_plain=$(min "$w" "$best_plain")
    sync
    w=$(burn "$src" dvd+r "speed=unlimited" --verify)
    grep -q '^Burn process completed\.$' "$work/burn-bench.log" ||
      { echo "verify failed:" >&2; tail -3 "$work/burn-bench.log" >&2; exit 1; }
    best_verify=$(min "$w" "$best_verify")
  done
  echo "== verify: tree '$tree' on a virtual DVD+R, no speed limit, best of $rounds"
  awk -v p="$best_plain" -v v="$best_verify" 'BEGIN {
    printf "%-28s %8.2f s\n", "burn", p
    printf "%-28s %8.2f s   ratio %.2f (target at most 1.40)\n", "burn + verify", v, v / p
  }'
fi

if [[ $parts == *several* ]]; then
  src=$work/$tree
  find "$src" -type f -print0 | xargs -0 cat >/dev/null
  # Runs one burn onto $1 virtual DVD+R recorders at the simulated speed of a 16x drive;
  # prints "wall_seconds bytes_read" (the bytes the process read, from its I/O counters).
  several() {
    local n=$1 i args=() devices=() start end letters=(D E F G H)
    for ((i = 0; i < n; i++)); do
      rm -f "$work/several-$i.img" "$work/several-$i.img.state"
      args+=(--virtual-recorder "$work/several-$i.img:dvd+r")
      devices+=(--device "${letters[i]}:")
    done
    start=$(now)
    # The shell's counters take in the child's once it has been waited for.
    rchar=$(BRENNIX_VIRTUAL_RECORDER_OPTIONS=speed=simulated bash -c '
      before=$(sed -n "s/^rchar: //p" /proc/$$/io)
      "$@" >"'"$work"'/several-bench.log" 2>&1 || exit 1
      after=$(sed -n "s/^rchar: //p" /proc/$$/io)
      echo $((after - before))' _ "$cli" "${args[@]}" burn --yes "${devices[@]}" --label BENCH "$src") ||
      { echo "burn onto $n recorders failed:" >&2; tail -5 "$work/several-bench.log" >&2; return 1; }
    end=$(now)
    for ((i = 0; i < n; i++)); do rm -f "$work/several-$i.img" "$work/several-$i.img.state"; done
    awk -v a="$start" -v b="$end" -v r="$rchar" 'BEGIN { printf "%.3f %.0f\n", b - a, r }'
  }
  read -r one_wall one_read < <(several 1)
  read -r three_wall three_read < <(several 3)
  echo "== several recorders: tree '$tree' on simulated 16x DVD+R recorders"
  awk -v w1="$one_wall" -v r1="$one_read" -v w3="$three_wall" -v r3="$three_read" 'BEGIN {
    printf "%-28s %8.2f s %10.1f MB read\n", "one recorder", w1, r1 / 1048576
    printf "%-28s %8.2f s %10.1f MB read\n", "three recorders", w3, r3 / 1048576
    printf "three / one, wall time: %.2f (target at most 1.20); bytes read: %.2f (target 1.00)\n", w3 / w1, r3 / r1
  }'
fi

if [[ $parts == *buffer* ]]; then
  echo "== drive buffer: 200,000 small files on simulated drives"
  for profile in dvd+r cd-r; do
    w=$(burn "$work/small" "$profile" "speed=simulated")
    fill=$(sed -n 's/^Drive buffer: lowest fill \([0-9]*\)%.*/\1/p' "$work/burn-bench.log")
    data=$(sed -n 's/^Data: \(.*\)$/\1/p' "$work/burn-bench.log")
    printf "%-6s lowest buffer fill %4s%%   data %s   whole run %.1f s\n" "$profile" "${fill:-?}" \
      "$data" "$w"
  done
fi
