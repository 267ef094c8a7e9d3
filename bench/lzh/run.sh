#!/bin/sh
# Compression ratio, speed and peak memory of libunlha32.so against jlha (the only other
# LZH encoder on Debian), and extraction speed against lhasa and bsdtar.
#   bench/lzh/run.sh BUILD_DIR [TEXT_INPUT] [BINARY_INPUT]
# Defaults: the copyright files under /usr/share/doc, concatenated (about 20 MB), and
# /usr/bin/gdb. Timings are wall-clock seconds of one run each; peak memory is the maximum
# resident set of the process (/usr/bin/time).
set -eu
build=${1:?build directory}
cli="$build/bin/lzh_cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
text=${2:-}
if [ -z "$text" ]; then
  text="$work/corpus.txt"
  find /usr/share/doc -name copyright -type f | sort | xargs cat > "$text" 2>/dev/null || true
fi
bin=${3:-/usr/bin/gdb}
have() { command -v "$1" >/dev/null 2>&1; }
timed() {  # prints "seconds maxrss_kib" of the command
  /usr/bin/time -f "%e %M" -o "$work/t" "$@" >/dev/null 2>&1 || { echo "FAILED: $*" >&2; echo "- -"; return 0; }
  cat "$work/t"
}
size() { stat -c %s "$1"; }

printf '%-8s %-6s %12s %12s %8s %8s %10s %10s\n' input method ours jlha ratio% speedup ours_s ours_MiB
for input in "$text" "$bin"; do
  name=$(basename "$input")
  insize=$(size "$input")
  cp "$input" "$work/$name"
  for m in 5 6 7; do
    jm=$([ $m = 5 ] && echo 2 || ([ $m = 6 ] && echo 3 || echo 4))
    rm -f "$work/ours.lzh" "$work/jlha.lzh"
    set -- $(timed "$cli" "U -n1 -jm$jm \"$work/ours.lzh\" \"$work/$name\"")
    ot=$1; om=$2
    os=$(size "$work/ours.lzh")
    js=-; jt=-
    if have jlha; then
      set -- $(cd "$work" && timed jlha a2o$m jlha.lzh "$name")
      jt=$1
      js=$(size "$work/jlha.lzh")
    fi
    speed=-
    [ "$jt" != - ] && speed=$(echo "scale=1; $jt / $ot" | bc)
    printf '%-8s lh%-4s %12s %12s %8s %8s %10s %10s\n' "$(echo $name | cut -c1-8)" $m "$os" "$js" \
      "$(echo "scale=2; 100 * $os / $insize" | bc)" "${speed}x" "$ot" "$((om / 1024))"
    # Extraction of our archive: ours, lhasa, bsdtar.
    mkdir -p "$work/x" && rm -rf "$work/x/"*
    set -- $(timed "$cli" "E -n1 -y1 -c1 \"$work/ours.lzh\" \"$work/x/\"")
    ex="ours ${1}s/${2}KiB"
    cmp -s "$work/x/$name" "$input" || ex="$ex MISMATCH"
    if have lhasa; then set -- $(timed lhasa t "$work/ours.lzh"); ex="$ex lhasa-t ${1}s"; fi
    if have bsdtar; then set -- $(timed sh -c "bsdtar -xOf '$work/ours.lzh' > /dev/null"); ex="$ex bsdtar ${1}s"; fi
    echo "         extract: $ex"
  done
  rm -f "$work/$name"
done
