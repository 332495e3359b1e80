#!/usr/bin/env bash
# Starts brennix under Xvfb and saves what a person would see: the splash window at
# start-up, the About box, the main window with a queue on a virtual DVD+R that already
# holds one session, and the burn and erase dialogs halfway through their work on a slow
# virtual recorder, the question of a burn that closes the disc, a failed burn and the main
# window with a closed disc, as PNG files in the build folder.
#   scripts/screenshots.sh [build folder]     (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" = "--inside-x" ]; then
  # Runs under the X server that the outer call started.
  app=$2 grab=$3 out=$4 cli=$5 demo=$6
  shoot() {  # shoot <png> <seconds before the shot> <splash ms> [app arguments]
    local png=$1 wait=$2 splash=$3
    shift 3
    BRENNIX_SPLASH_MS=$splash "$app" "$@" &
    local pid=$!
    sleep "$wait"
    "$grab" "$png"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  }
  shoot "$out/screenshot-splash.png" 2 8000
  shoot "$out/screenshot-about.png" 3 300 --about

  # The main window: a DVD+R with a first session of 250 MB, and a queue of a folder and two
  # files. The big files are sparse: only their sizes matter to the window.
  # The queued files lie in the scratch home folder that the browser shows.
  work=$(mktemp -d)
  mkdir -p "$work/first"
  truncate -s 250M "$work/first/photos.tar"
  cp -r "$here/scripts/sample" "$HOME/Pictures/holiday 2026"
  truncate -s 640M "$HOME/Videos/holiday-video.mkv"
  truncate -s 95M "$HOME/Documents/backup-2026-12.tar"
  "$cli" --virtual-recorder "$work/dvd.img:dvd+r" burn --label FIRST --yes "$work/first" >/dev/null
  shoot "$out/screenshot-main.png" 4 300 --virtual-recorder "$work/dvd.img" \
    "$HOME/Pictures/holiday 2026" "$HOME/Videos/holiday-video.mkv" \
    "$HOME/Documents/backup-2026-12.tar"
  rm -rf "$work"

  # The dialogs mid-run: a recorder that takes the time a real drive takes.
  shoot_dialog() {  # shoot_dialog <png> <seconds before the shot> <demo arguments>
    local png=$1 wait=$2
    shift 2
    BRENNIX_VIRTUAL_RECORDER_OPTIONS=speed=simulated "$demo" "$@" &
    local pid=$!
    sleep "$wait"
    "$grab" "$png"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  }
  work=$(mktemp -d)
  mkdir -p "$work/holiday/day 1"
  truncate -s 120M "$work/holiday/day 1/video.mov"
  echo "Beach, then the old town." > "$work/holiday/notes.txt"
  shoot_dialog "$out/screenshot-burn.png" 12 burn "$work/burn.disc:cd-r" "$work/holiday/"
  "$cli" --virtual-recorder "$work/erase.disc:cd-rw" burn --yes "$work/holiday/notes.txt" >/dev/null
  shoot_dialog "$out/screenshot-erase.png" 15 erase "$work/erase.disc:cd-rw"

  # What a person is told: the question of a burn that closes the disc, a burn whose write
  # fails (the drive reports a medium error), and the main window with a closed disc.
  BRENNIX_DEMO_ASK=1 shoot_dialog "$out/screenshot-question.png" 4 burn \
    "$work/ask.disc:dvd+r" "$work/holiday/notes.txt"
  BRENNIX_VIRTUAL_RECORDER_OPTIONS=fault=sense:2a:1:3/0c/00 "$demo" burn \
    "$work/failed.disc:dvd+r" "$work/holiday/notes.txt" &
  pid=$!
  sleep 6
  "$grab" "$out/screenshot-failed.png"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  "$cli" --virtual-recorder "$work/closed.disc:dvd+r" burn --close-disc --label PHOTOS --yes \
    "$work/holiday/notes.txt" >/dev/null
  shoot "$out/screenshot-closed.png" 4 300 --virtual-recorder "$work/closed.disc"
  rm -rf "$work"
  exit 0
fi

build=$(cd "${1:-$here/build}" 2>/dev/null && pwd || echo "${1:-$here/build}")
[ -f "$build/CMakeCache.txt" ] || "$here/scripts/build.sh" "$build"
cmake --build "$build" --target brennix brennix-cli brennix_screen_grab brennix_dialog_demo

# A private settings and runtime folder: the shots never touch the user's own.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# A home folder of its own too: the browser shows a person's folders, not this machine's.
mkdir -p "$scratch/config" "$scratch/runtime" "$scratch/home"/{Documents,Music,Pictures,Videos}
chmod 700 "$scratch/runtime"
export XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch/runtime" HOME="$scratch/home"
unset QT_QPA_PLATFORM

xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside-x "$build/src/app/brennix" \
  "$build/src/app/brennix_screen_grab" "$build" "$build/src/cli/brennix-cli" \
  "$build/src/app/brennix_dialog_demo"
echo "saved $build/screenshot-{splash,about,main,burn,erase,question,failed,closed}.png"
