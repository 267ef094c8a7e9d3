#!/usr/bin/env bash
# Builds the archiver libraries and their tests with AddressSanitizer and UBSan in a build
# directory of their own and runs those tests; any sanitizer report fails them.
# Usage: scripts/asan-archivers.sh [ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/asan-archivers
cmake --preset asan -B "$build" -DTAVRUN_BUILD_TESTS=ON \
  -DTAVRUN_DIRS="archivers/shared;archivers/lzh;archivers/zip;tests" >/dev/null
cmake --build "$build" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan-suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" -j "$(nproc)" --output-on-failure --no-tests=error "$@"
