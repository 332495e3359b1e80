#!/usr/bin/env bash
# Builds the Debian package of Brennix (the desktop application, brennix-cli, the menu entry,
# icons, manual page and shell completion); dpkg-shlibdeps works out its dependencies.
# usage: scripts/package.sh [BUILD_DIR [OUT_DIR]]   (defaults: build/, and BUILD_DIR for the .deb)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-"$here/build"}
out=${2:-"$dir"}
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$dir"
mkdir -p "$out"
cpack --config "$dir/CPackConfig.cmake" -G DEB -B "$out" >/dev/null
rm -rf "$out/_CPack_Packages"
ls -1 "$out"/brennix_*.deb
