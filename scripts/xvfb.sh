# Sourced by the scripts that drive the program on a virtual X display.
# start_xvfb FIRST LAST GEOMETRY [Xvfb options...]: starts Xvfb on the first free display
# number in FIRST..LAST, waits until it accepts connections, exports DISPLAY and adds its
# process to the caller's `pids` array. Returns 1 (with a message) when it cannot.
start_xvfb() {
  local first=$1 last=$2 geometry=$3 n display=""
  shift 3
  for n in $(seq "$first" "$last"); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
  done
  [ -n "$display" ] || { echo "No free X display number." >&2; return 1; }
  Xvfb "$display" -screen 0 "$geometry" -nolisten tcp "$@" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  [ -e "/tmp/.X11-unix/X${display#:}" ] || { echo "Xvfb did not start on $display." >&2; return 1; }
  export DISPLAY=$display
}

# start_twm RCFILE: a plain window manager on $DISPLAY, remembered in `pids`.
start_twm() {
  twm -f "$1" >/dev/null 2>&1 &
  pids+=($!)
  sleep 0.5
}

# stage_program BUILD DIR: an install-like tree (bin/tavrun, lib/tavrun/*) in DIR, so that
# the settings it writes beside the program never touch the build's.
stage_program() {
  mkdir -p "$2/bin" "$2/lib/tavrun" "$2/tmp"
  cp "$1/bin/tavrun" "$2/bin/"
  cp "$1"/lib/tavrun/* "$2/lib/tavrun/"
}

# need_tools TOOL...: exits with a message naming the first missing tool.
need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)." >&2; exit 1; }
  done
}

# make_scratch: a scratch folder in `work`, removed on exit together with every process
# remembered in `pids`.
make_scratch() {
  work=$(mktemp -d)
  pids=()
  trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; rm -rf "$work"' EXIT
}
