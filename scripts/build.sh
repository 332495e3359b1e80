#!/usr/bin/env bash
# Builds into build/ (or the folder given as $1) with extra CMake arguments after it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-"$here/build"}
shift || true
cmake -S "$here" -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
