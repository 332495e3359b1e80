#!/usr/bin/env bash
# Does the desktop stay responsive during long work? Drives the real windows (on Qt's
# offscreen platform) through three jobs on virtual recorders and prints, for each, the
# longest time the interface thread went without running its event loop. Target: at most
# 100 ms; a window that stalls longer feels stuck, and after a few seconds the desktop
# offers to kill it.
#
#  burn   the burn queue holds one folder of 20,000 files of 2..14 KiB (about 160 MB) that
#         reads slowly (a wait before each open and each read, 1 ms by default, as from a
#         busy share); the burn dialog writes it onto a virtual DVD+R at simulated 16x, the
#         drive busy for the first 5 s after Start Burn.
#  erase  the erase dialog quick-erases a virtual CD-RW at simulated speed; the drive takes
#         10 s to answer the first command after Start Erase, and 10 s to load the disc.
#  tray   the main window's Eject, then Load; each tray command takes the drive 10 s.
#
# Each run also lists its longest gaps with what the window showed around them and what the
# interface thread was running meanwhile; the summary at the end has one line per job.
#
#   bench/ui_gap_bench.sh [build folder]    (default build; configured with -DBRENNIX_BUILD_APP=ON)
#
# BRENNIX_UI_BENCH_MODES     "burn erase tray" (default) or some of them
# BRENNIX_UI_BENCH_LIMIT     seconds each job may take before it is stopped (default 600)
# BRENNIX_UI_BENCH_DELAY_US  the slow source's wait before each open and read (default 1000)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
modes=${BRENNIX_UI_BENCH_MODES:-burn erase tray}
limit=${BRENNIX_UI_BENCH_LIMIT:-600}
delay=${BRENNIX_UI_BENCH_DELAY_US:-1000}
cc=${CC:-cc}

for tool in cmake perl addr2line timeout "$cc"; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/install-deps.sh)" >&2; exit 1; }
done
grep -qs '^BRENNIX_BUILD_APP:BOOL=ON' "$build/CMakeCache.txt" ||
  { echo "$build is not a build folder configured with -DBRENNIX_BUILD_APP=ON" >&2; exit 1; }
((limit >= 30)) || { echo "BRENNIX_UI_BENCH_LIMIT: at least 30 seconds" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/brennix-ui-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"

echo "== building the driver and the slow source"
cmake --build "$build" --target brennix_ui_bench >"$work/build.log" 2>&1 ||
  { tail -20 "$work/build.log" >&2; exit 1; }
driver=$build/src/app/brennix_ui_bench
"$cc" -shared -fPIC -O2 -o "$work/slow_source.so" "$here/bench/slow_source.c" -ldl

# The program's settings and files stay in the scratch folder.
common=(HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/runtime"
        QT_QPA_PLATFORM=offscreen)
summary=()

# run MODE [VAR=VALUE...] -- DRIVER ARGUMENTS: one job under the time limit; the driver
# gives up by itself a little earlier, so that a job that ends badly still reports.
run() {
  local mode=$1 rc=0 gap
  shift
  local extra=()
  while [ "$1" != -- ]; do extra+=("$1"); shift; done
  shift
  echo "== $mode"
  env "${common[@]}" "${extra[@]}" timeout -k 10 "$limit" "$driver" --timeout $((limit - 15)) \
    "$@" >"$work/$mode.log" 2>"$work/$mode.err" || rc=$?
  cat "$work/$mode.log"
  if ((rc != 0)); then
    echo "$mode: the job did not end well (exit $rc); last words:"
    tail -5 "$work/$mode.err"
  fi
  gap=$(sed -n 's/^longest event-loop gap: \([0-9]*\) ms$/\1/p' "$work/$mode.log")
  summary+=("$mode ${gap:-?} $rc")
}

for mode in $modes; do
  case $mode in
    burn)
      echo "== generating 20,000 files in one folder"
      perl "$here/bench/gen_tree.pl" flat "$work/source"
      run burn LD_PRELOAD="$work/slow_source.so" SLOW_SOURCE_DIR="$work/source" \
        SLOW_SOURCE_DELAY_US="$delay" -- --recorder speed=simulated \
        --fault fault=busy:any:5000ms burn "$work/burn.img:dvd+r" "$work/source"
      rm -rf "$work/source" "$work"/burn.img*
      ;;
    erase)
      run erase -- --recorder speed=simulated \
        --fault fault=slow:any:1:10000ms,fault=slow:1b:1:10000ms erase "$work/erase.img:cd-rw"
      ;;
    tray)
      run tray -- --fault fault=slow:1b:2:10000ms tray "$work/tray.img:cd-rw"
      ;;
    *)
      echo "unknown mode: $mode (burn, erase, tray)" >&2
      exit 1
      ;;
  esac
done

echo "== summary"
status=0
for line in "${summary[@]}"; do
  read -r mode gap rc <<<"$line"
  ((rc == 0)) || status=1
  awk -v m="$mode" -v g="$gap" -v rc="$rc" 'BEGIN {
    if (g == "?") { printf "%-6s no figure (the job failed)\n", m; exit }
    printf "%-6s longest event-loop gap: %d ms (target 100 ms, ratio %.2f)%s\n", m, g, g / 100,
      rc == 0 ? "" : "  [the job did not end well]" }'
done
exit $status
