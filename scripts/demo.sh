#!/usr/bin/env bash
# The main job: installs what is needed, builds, writes the sample folder as an image file
# through the read-ahead cache, checks it with an independent reader and lists it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build"
out="$here/build/demo"
mkdir -p "$out"
"$here/build/src/cli/brennix-cli" mkiso -o "$out/sample.iso" --label "Brennix sample" \
  --save-path last "$here/scripts/sample"
echo "== independent check (isovfy)"
isovfy "$out/sample.iso" | tail -1
echo "== the Joliet tree of $out/sample.iso"
isoinfo -J -l -i "$out/sample.iso"
echo "== the files, extracted by 7z"
7z l "$out/sample.iso" | sed -n '/^---/,/^---/p'
