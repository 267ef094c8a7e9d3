#!/usr/bin/env bash
# Takes the screenshots in docs/screenshots from the built program, on a virtual X display
# with a plain window manager, driving it with the keyboard as a user would.
# Usage: scripts/screenshots.sh [build directory, default build/default]
# Needs Xvfb, twm, xdotool and ImageMagick's import (scripts/install-deps.sh installs them).
set -euo pipefail
[ -n "${TAVRUN_SHOTS_DEBUG:-}" ] && set -x
cd "$(dirname "$0")/.."
. scripts/xvfb.sh
build=${1:-build/default}
exe=$build/bin/tavrun
if [ ! -x "$exe" ]; then
  echo "No program at $exe: build it first (cmake --build --preset default)." >&2
  exit 1
fi
need_tools Xvfb twm xdotool import

out=docs/screenshots
mkdir -p "$out"
make_scratch

# An install-like tree of its own, so the demo settings never touch the build's.
stage_program "$build" "$work"
printf '[INIT]\r\nArchiveType=0\r\nCompressType=0\r\nExtractType=1\r\nFromDirectory=/home/tavrun/文書/送付前\r\nToDirectory=/home/tavrun/文書/書庫\r\n[COMMON]\r\nMakeDirectory=1\r\nLogLevel=2\r\n' \
  >"$work/bin/Tavrun.ini"
# The virtual server has only its built-in core fonts, which lack Japanese: the window
# manager frames the main window (whose title is ASCII) but leaves the dialogs undecorated.
printf 'RandomPlacement\nUsePPosition "on"\nNoGrabServer\nTitleFont "fixed"\nResizeFont "fixed"\nMenuFont "fixed"\nIconFont "fixed"\nIconManagerFont "fixed"\n' \
  >"$work/twmrc"

start_xvfb 90 140 640x480x24
start_twm "$work/twmrc"

TMPDIR="$work/tmp" "$work/bin/tavrun" >/dev/null 2>&1 &
app=$!
pids+=($app)

# The window with its frame, as the window manager shows it.
shoot() {
  local name=$1 file=$2 id
  id=$(xdotool search --sync --onlyvisible --name "^${name}\$" | head -1)
  sleep 0.7
  import -frame -window "$id" "$file"
  echo "$file"
}

shoot "Tavrun Ver.0.1" "$out/main.png"
main=$(xdotool search --onlyvisible --name '^Tavrun Ver\.0\.1$' | head -1)

# A menu title of the main window, clicked where the menu bar shows it.
menu() {
  xdotool mousemove --window "$main" "$1" 8 click 1
  sleep 0.5
}

# Tools menu, Options: the first page, then the other two (arrow keys move the tab bar).
menu 108
xdotool key --clearmodifiers o
shoot "Tavrun オプション" "$out/options.png"
xdotool key --clearmodifiers Right
shoot "Tavrun オプション" "$out/options-lzh.png"
xdotool key --clearmodifiers Right
shoot "Tavrun オプション" "$out/options-zip.png"
xdotool key --clearmodifiers Escape
sleep 0.5

# Help menu, version information.
menu 158
xdotool key --clearmodifiers a
sleep 1
about=$(xdotool search --onlyvisible --name '^Tavrun Ver\.0\.1$' | grep -v "^$main\$" | head -1 || true)
if [ -n "$about" ]; then
  sleep 0.5
  import -frame -window "$about" "$out/about.png"
  echo "$out/about.png"
  xdotool key --clearmodifiers Return
fi

# End as the session would: no question, nothing saved.
kill -TERM "$app"
wait "$app" 2>/dev/null || true
