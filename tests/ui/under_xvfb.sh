#!/usr/bin/env bash
# Runs a test program on a fresh Xvfb display with the xcb platform: for the tests that need
# the window system's own events. Fails when Xvfb is missing, so such tests never pass unseen.
# Usage: tests/ui/under_xvfb.sh PROGRAM [ARGUMENTS...]
set -euo pipefail
. "$(dirname "$0")/../../scripts/xvfb.sh"
need_tools Xvfb
make_scratch
start_xvfb 141 190 1024x768x24
status=0
QT_QPA_PLATFORM=xcb "$@" || status=$?
exit "$status"
