#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: a plain build, then the whole
# suite again under AddressSanitizer + UndefinedBehaviorSanitizer, then the thread tests
# under ThreadSanitizer. Warnings are errors in all three.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== plain build"
# Optimised as a packager builds it, without debug information: the tests need the speed,
# not the symbols, and the build takes a third less time.
"$here/scripts/build.sh" "$here/build" -DBRENNIX_WARNINGS_AS_ERRORS=ON \
  -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG"
ctest --test-dir "$here/build" --output-on-failure -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
"$here/scripts/build.sh" "$here/build-asan" -DCMAKE_BUILD_TYPE=Debug \
  -DBRENNIX_SANITIZE=address,undefined -DBRENNIX_WARNINGS_AS_ERRORS=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$here/build-asan" --output-on-failure -j "$jobs"

echo "== ThreadSanitizer (thread tests)"
# Only the thread test programs (and what they run) are built here.
cmake -S "$here" -B "$here/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DBRENNIX_SANITIZE=thread -DBRENNIX_BUILD_APP=OFF -DBRENNIX_WARNINGS_AS_ERRORS=ON >/dev/null
mapfile -t thread_programs < <(ninja -C "$here/build-tsan" -t targets all |
  sed -n 's/^\([A-Za-z0-9_]*_thread_tests\): .*/\1/p')
cmake --build "$here/build-tsan" -j "$jobs" --target "${thread_programs[@]}"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir "$here/build-tsan" --output-on-failure -j "$jobs" -L thread
