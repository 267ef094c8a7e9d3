#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
if [ ! -x build/default/bin/tavrun ]; then
  echo "The program itself is not built yet; the libraries and tests were built."
  exit 0
fi
exec build/default/bin/tavrun "$@"
