#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Widget tests run without a display, also when the build lists them.
export QT_QPA_PLATFORM=offscreen
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
status=0
# The archivers' fuzz targets for a bounded time (TAVRUN_FUZZ_SECONDS=0 skips them).
if [ "${TAVRUN_FUZZ_SECONDS:-45}" -gt 0 ]; then
  scripts/fuzz.sh "${TAVRUN_FUZZ_SECONDS:-45}" || status=1
fi
# The archivers and their tests under AddressSanitizer and UBSan (TAVRUN_ASAN=0 skips them):
# the format code is where a memory fault would hide.
if [ "${TAVRUN_ASAN:-1}" != 0 ]; then
  scripts/asan-archivers.sh || status=1
fi
# The .deb: built, installed, started by two users, removed (needs root; says so otherwise).
if [ "${TAVRUN_PACKAGE_CHECK:-1}" != 0 ]; then
  timeout 1200 scripts/package-check.sh || status=1
fi
scripts/format-check.sh || status=1
# The suite last, so that its summary ends the output.
ctest --preset default -j "$(nproc)" "$@" || status=1
exit $status
