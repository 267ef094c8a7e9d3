#!/usr/bin/env bash
# Measures how long the exit question takes to appear when the user clicks the main window's
# close box while a library call compresses one large file (the progress dialog off), on a
# virtual X display with a plain window manager whose title-bar button sends the close
# request. Then answers No (the run must finish) and, in a second run, Yes (the process must
# end with the settings written and no temporary file left).
# Usage: bench/close_during_call.sh [build directory] [file size in MiB, default 300]
# Needs Xvfb, twm, xdotool and ImageMagick's import (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/xvfb.sh
build=${1:-build/default}
size=${2:-300}
exe=$build/bin/tavrun
[ -x "$exe" ] || { echo "No program at $exe: build it first." >&2; exit 1; }
need_tools Xvfb twm xdotool import

make_scratch

stage_program "$build" "$work"
mkdir -p "$work/in" "$work/out"
# Text-like data: the encoder works on it as on a user's documents.
python3 - "$work/in/big.txt" "$size" <<'PY'
import random, sys
random.seed(7)
words = [("".join(random.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(random.randint(2, 9))))
         for _ in range(5000)]
target = int(sys.argv[2]) << 20
with open(sys.argv[1], "w") as f:
    written = 0
    while written < target:
        line = " ".join(random.choice(words) for _ in range(12)) + "\n"
        f.write(line)
        written += len(line)
PY
printf '[INIT]\r\nArchiveType=0\r\nCompressType=0\r\nFromDirectory=%s\r\nToDirectory=%s\r\n[COMMON]\r\nLogLevel=0\r\n[LZH]\r\nControlDialog=1\r\n' \
  "$work/in" "$work/out" >"$work/bin/Tavrun.ini"
printf 'NoDefaults\nNoGrabServer\nTitleFont "fixed"\nResizeFont "fixed"\nMenuFont "fixed"\nIconFont "fixed"\nIconManagerFont "fixed"\nLeftTitleButton ":xlogo" = f.delete\n' \
  >"$work/twmrc"

start_xvfb 150 199 800x600x24
start_twm "$work/twmrc"

now() { date +%s.%N; }
# Waits for a visible window titled exactly $1 and prints its id.
wait_window() {
  local id=""
  for _ in $(seq 3000); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.01
  done
  return 1
}

# One run: start it, wait until the library call is well under way, click the close box.
start_run() {
  TMPDIR="$work/tmp" "$work/bin/tavrun" >/dev/null 2>&1 &
  app=$!
  pids+=($app)
  main=$(wait_window "Tavrun Ver\\.0\\.1")
  sleep 0.5
  xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
  xdotool key --clearmodifiers alt+r
  wait_window "Tavrun" >/dev/null
  xdotool key --clearmodifiers Return  # Yes to the confirmation
  # The library writes the archive into an unnamed file in the target folder while the call
  # runs: the program holds it open.
  for _ in $(seq 1000); do writing && break; sleep 0.01; done
  sleep 1
  writing || { echo "the call ended too soon" >&2; exit 1; }
}
# Whether the program holds a file of the output folder open.
writing() {
  local fd
  for fd in /proc/"$app"/fd/*; do
    case "$(readlink "$fd" 2>/dev/null)" in "$work/out"/*) return 0 ;; esac
  done
  return 1
}
# Waits up to a minute for the program to end.
wait_end() {
  for _ in $(seq 600); do kill -0 "$app" 2>/dev/null || return 0; sleep 0.1; done
  echo "the program did not end" >&2
  return 1
}
click_close_box() {
  local x y
  x=$(xwininfo -id "$main" | awk '/Absolute upper-left X/ { print $4 }')
  y=$(xwininfo -id "$main" | awk '/Absolute upper-left Y/ { print $4 }')
  # twm's title bar lies above the client area; its left button is the close box.
  xdotool mousemove "$((x + 4))" "$((y - 10))"
  local t0
  t0=$(now)
  xdotool click 1
  wait_window "Tavrun" >/dev/null
  echo "$t0 $(now)" | awk '{ printf "%.3f", $2 - $1 }'
}

start_run
elapsed=$(click_close_box)
import -window root /tmp/tavrun-close-question.png
echo "exit question after ${elapsed} s (run 1, answered No)"
xdotool key --clearmodifiers Return  # No is the default
result_wait_start=$(now)
wait_window "Tavrun" >/dev/null       # the result message once the file is done
echo "run finished $(echo "$result_wait_start $(now)" | awk '{ printf "%.1f", $2 - $1 }') s after No; out: $(ls "$work/out")"
import -window root /tmp/tavrun-close-result.png
xdotool key --clearmodifiers Return
sleep 0.5
kill "$app"  # ends without a question and without saving
wait_end
rm -f "$work/out"/*

start_run
before=$(ls -A "$work/out" | tr '\n' ' ')
elapsed=$(click_close_box)
echo "exit question after ${elapsed} s (run 2, answered Yes); output named during the call: [$before]"
t0=$(now)
xdotool key --clearmodifiers alt+y
wait_end
echo "process ended $(echo "$t0 $(now)" | awk '{ printf "%.2f", $2 - $1 }') s after Yes; output left: [$(ls -A "$work/out" | tr '\n' ' ')]"
grep -a "FromDirectory" "$work/bin/Tavrun.ini" | tr -d '\r'
echo "log:"; cat "$work/bin/Tavrun.log" 2>/dev/null | tr -d '\r' || true
