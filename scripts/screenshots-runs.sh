#!/usr/bin/env bash
# Takes the screenshots of two runs from the built program, on a virtual X display as
# scripts/screenshots.sh does: the result of a compression with failures and its details,
# and the password question of a ZIP extraction with its stop button, then the result of
# stopping there.
# Usage: scripts/screenshots-runs.sh [build directory, default build/default]
set -euo pipefail
[ -n "${TAVRUN_SHOTS_DEBUG:-}" ] && set -x
cd "$(dirname "$0")/.."
. scripts/xvfb.sh
build=${1:-build/default}
if [ ! -x "$build/bin/tavrun" ]; then
  echo "No program at $build/bin/tavrun: build it first (cmake --build --preset default)." >&2
  exit 1
fi
need_tools Xvfb twm xdotool import zip

out=docs/screenshots
mkdir -p "$out"
make_scratch
stage_program "$build" "$work"
printf 'RandomPlacement\nUsePPosition "on"\nNoGrabServer\nTitleFont "fixed"\nResizeFont "fixed"\nMenuFont "fixed"\nIconFont "fixed"\nIconManagerFont "fixed"\n' \
  >"$work/twmrc"
start_xvfb 90 140 800x600x24
start_twm "$work/twmrc"
export LANG=ja_JP.UTF-8

# Compression: three files, two of whose archive names are taken by folders.
docs="$work/文書"
mkdir -p "$docs/送付前" "$docs/書庫/見積書.zip" "$docs/書庫/議事録.zip" "$docs/受信" "$docs/展開"
for name in 見積書 議事録 報告書; do echo "$name の本文" >"$docs/送付前/$name.txt"; done
# Extraction: three archives behind one password nobody knows.
for name in 契約書 請求書 納品書; do
  echo "$name" >"$work/$name.txt"
  (cd "$work" && zip -q -P secret "$docs/受信/$name.zip" "$name.txt")
done

app=""
# start_app OPERATION FROM TO: the program with these settings, its main window's id in `main`.
start_app() {
  printf '[INIT]\r\nArchiveType=%s\r\nCompressType=1\r\nExtractType=1\r\nFromDirectory=%s\r\nToDirectory=%s\r\n' \
    "$1" "$2" "$3" >"$work/bin/Tavrun.ini"
  TMPDIR="$work/tmp" "$work/bin/tavrun" >/dev/null 2>&1 &
  app=$!
  pids+=($app)
  main=$(xdotool search --sync --onlyvisible --name '^Tavrun Ver\.0\.1$' | head -1)
  sleep 0.7
}
stop_app() {
  kill -TERM "$app"
  wait "$app" 2>/dev/null || true
}
# A visible window other than the main one that `xdotool search --onlyvisible ARGS...` finds,
# waited for up to 10 s.
window_other_than_main() {
  local id
  for _ in $(seq 50); do
    id=$(xdotool search --onlyvisible "$@" 2>/dev/null | grep -v "^$main\$" | tail -1 || true)
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.2
  done
  echo "No window for: $*." >&2
  return 1
}
# The visible window named NAME that is not the main window.
window_named() { window_other_than_main --name "$1"; }
# The program's visible window that is not the main window.
other_window() { window_other_than_main --pid "$app"; }
shoot() {
  sleep 0.7
  import -frame -window "$1" "$2"
  echo "$2"
}
run_and_confirm() {
  xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
  xdotool key --clearmodifiers alt+r
  sleep 1
  xdotool key --clearmodifiers Return  # Yes to the confirmation
  sleep 1.5
}
# The result box, then its details (Tab from OK reaches the details button).
shoot_result_and_details() {
  local box
  box=$(window_named '^Tavrun$')
  xdotool windowfocus --sync "$box" 2>/dev/null || true
  xdotool key --clearmodifiers Tab space
  shoot "$box" "$1"
  xdotool key --clearmodifiers Escape
  sleep 0.5
}

start_app 0 "$docs/送付前" "$docs/書庫"
run_and_confirm
shoot_result_and_details "$out/failure-details.png"
stop_app

start_app 1 "$docs/受信" "$docs/展開"
run_and_confirm
# Its Japanese title is not in WM_NAME, where xdotool looks: the program's other window.
dialog=$(other_window)
shoot "$dialog" "$out/password-stop.png"
# Tab from the password box: past OK (disabled until something is typed) and skip, to stop.
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
xdotool key --clearmodifiers Tab Tab space
sleep 1.5
shoot_result_and_details "$out/password-stopped.png"
stop_app
