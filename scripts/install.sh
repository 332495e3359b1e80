#!/usr/bin/env bash
# Builds the Debian package and installs it, or removes it again; through sudo when not run
# as root, so the same line works for both.
# usage: scripts/install.sh [--remove]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
if [ "${1:-}" = "--remove" ]; then
  $sudo apt-get remove -y brennix
  exit 0
fi
deb=$("$here/scripts/package.sh" | tail -1)
# A path with a slash: apt takes it as a file, not as a package name.
$sudo apt-get install -y "$(realpath "$deb")"
