#!/usr/bin/env bash
# The main job: installs what is needed, builds, and writes a sample folder as an image.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build"
out="$here/build/demo"
mkdir -p "$out"
"$here/build/src/cli/brennix-cli" mkiso -o "$out/sample.iso" --label "Brennix sample" \
  "$here/scripts/sample"
echo "== what is in the image"
isoinfo -J -l -i "$out/sample.iso"
