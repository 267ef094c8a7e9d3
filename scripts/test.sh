#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Widget tests run without a display, also when the build lists them.
export QT_QPA_PLATFORM=offscreen
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
# The archivers' fuzz targets for a bounded time (TAVRUN_FUZZ_SECONDS=0 skips them); before
# the suite, so that the test summary ends the output.
if [ "${TAVRUN_FUZZ_SECONDS:-45}" -gt 0 ]; then
  scripts/fuzz.sh "${TAVRUN_FUZZ_SECONDS:-45}"
fi
ctest --preset default -j "$(nproc)" "$@"
