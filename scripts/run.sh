#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
# Only the program and the components it loads: starting it never waits for the tests.
cmake --build --preset default -j "$(nproc)" --target tavrun tavrun_runtime_files unlha32 zip32 zip32j unzip32
exec build/default/bin/tavrun "$@"
