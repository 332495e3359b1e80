#!/usr/bin/env bash
# The main job: installs what is needed, builds, burns the sample folder onto a virtual
# recorder (a software drive whose disc is a file), and shows what is on the disc.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build"
cli="$here/build/src/cli/brennix-cli"
out="$here/build/demo"
disc="$out/disc.img"
mkdir -p "$out"
rm -f "$disc" "$disc.state"   # a fresh blank DVD+R each time
recorder=(--virtual-recorder "$disc:dvd+r")
# The virtual recorder by name: without --device the commands take it anyway, but a burn that
# answers its question with --yes says which disc it writes.
device=$("$cli" "${recorder[@]}" devices | grep -m1 'VIRTUAL RECORDER')

echo "== the recorders"
"$cli" "${recorder[@]}" devices
echo "== burning $here/scripts/sample (and reading it back)"
"$cli" "${recorder[@]}" burn --device "$device" --yes --verify --label "Brennix sample" \
  "$here/scripts/sample"
echo "== the disc"
"$cli" "${recorder[@]}" info --device "$device" | sed -n '/^Disc:/,$p'
echo "== what is on the disc (Joliet tree, read by isoinfo)"
isoinfo -J -l -i "$disc"
echo "== the files, extracted by 7z and compared with their sources"
rm -rf "$out/extracted"
7z x -y -o"$out/extracted" "$disc" >/dev/null
diff -r "$here/scripts/sample" "$out/extracted" && echo "identical"
