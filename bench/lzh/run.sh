#!/bin/sh
# Compression ratio, speed and peak memory of libunlha32.so against jlha (the only other
# LZH encoder on Debian), and extraction speed against lhasa and bsdtar.
#   [REPEAT=3] [LARGE_MIB=N] bench/lzh/run.sh BUILD_DIR [TEXT_INPUT] [BINARY_INPUT]
# Defaults: the copyright files under /usr/share/doc, concatenated (about 20 MB), and
# /usr/bin/gdb. Each figure is the best of REPEAT runs (default 3): "cpu" is user+system
# seconds (steadier than wall time on a shared machine), "wall" elapsed seconds, "MiB" the
# peak resident set.
# Extraction writes the files to disk for all three tools.
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
repeat=${REPEAT:-3}
# Runs a shell command REPEAT times; prints the best "cpu wall MiB".
timed() {
  : > "$work/all"
  i=0
  while [ $i -lt "$repeat" ]; do
    if ! /usr/bin/time -f "%U %S %e %M" -o "$work/t" sh -c "$1" >/dev/null 2>&1; then
      echo "FAILED: $1" >&2
      echo "- - -"
      return 0
    fi
    cat "$work/t" >> "$work/all"
    i=$((i + 1))
  done
  awk 'NR == 1 || $1 + $2 < c { c = $1 + $2 } NR == 1 || $3 < w { w = $3 } $4 > m { m = $4 }
       END { printf "%.2f %.2f %d\n", c, w, m / 1024 }' "$work/all"
}
size() { stat -c %s "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == "-" || b == 0) print "-"; else printf "%.2f", a / b }'; }

echo "input: $(basename "$text") $(size "$text") bytes, $(basename "$bin") $(size "$bin") bytes"
printf '%-6s %-4s | %10s %6s %5s %5s %4s | %10s %6s %5s | %9s %8s | %s\n' \
  input meth ours_bytes ratio% cpu wall MiB jlha_bytes cpu wall size/jlha speedup "extract cpu/wall: ours lhasa bsdtar"
for input in "$text" "$bin"; do
  name=$(basename "$input")
  insize=$(size "$input")
  cp "$input" "$work/$name"
  for m in 5 6 7; do
    case $m in 5) jm=2 ;; 6) jm=3 ;; 7) jm=4 ;; esac
    rm -f "$work/ours.lzh" "$work/jlha.lzh"
    set -- $(timed "rm -f '$work/ours.lzh'; exec '$cli' 'U -n1 -jm$jm \"$work/ours.lzh\" \"$work/$name\"'")
    oc=$1 ow=$2 om=$3
    os=$(size "$work/ours.lzh")
    js=- jc=- jw=-
    if have jlha; then
      set -- $(timed "cd '$work' && rm -f jlha.lzh && exec jlha a2o$m jlha.lzh '$name'")
      jc=$1 jw=$2
      [ -f "$work/jlha.lzh" ] && js=$(size "$work/jlha.lzh")
    fi
    ex=""
    set -- $(timed "rm -rf '$work/x' && mkdir '$work/x' && exec '$cli' 'E -n1 \"$work/ours.lzh\" \"$work/x/\"'")
    ex="$1/$2"
    cmp -s "$work/x/$name" "$input" || ex="$ex(MISMATCH)"
    if have lhasa; then
      set -- $(timed "rm -rf '$work/x' && mkdir '$work/x' && cd '$work/x' && exec lhasa x '$work/ours.lzh'")
      ex="$ex $1/$2"
    fi
    if have bsdtar; then
      set -- $(timed "rm -rf '$work/x' && mkdir '$work/x' && exec bsdtar -xf '$work/ours.lzh' -C '$work/x'")
      ex="$ex $1/$2"
    fi
    printf '%-6s lh%-2s | %10s %6s %5s %5s %4s | %10s %6s %5s | %9s %8s | %s\n' \
      "$(echo "$name" | cut -c1-6)" $m "$os" "$(awk -v a="$os" -v b="$insize" 'BEGIN{printf "%.2f", 100*a/b}')" \
      "$oc" "$ow" "$om" "$js" "$jc" "$jw" "$(ratio "$os" "$js")" "$(ratio "$jc" "$oc")x" "$ex"
  done
  rm -f "$work/$name"
done

# Optional streaming check: LARGE_MIB=N builds an N MiB file (the text input repeated with a
# changing line in between) and reports the peak memory of compressing and extracting it.
if [ -n "${LARGE_MIB:-}" ]; then
  large="$work/large.bin"
  i=0
  while [ "$(stat -c %s "$large" 2>/dev/null || echo 0)" -lt $((LARGE_MIB * 1048576)) ]; do
    cat "$text" >> "$large"
    echo "block $i" >> "$large"
    i=$((i + 1))
  done
  repeat=1
  set -- $(timed "rm -f '$work/large.lzh'; exec '$cli' 'U -n1 -jm4 \"$work/large.lzh\" \"$large\"'")
  echo "large: $(stat -c %s "$large") bytes -> $(stat -c %s "$work/large.lzh"); compress cpu $1 s, wall $2 s, peak $3 MiB"
  set -- $(timed "rm -rf '$work/x' && mkdir '$work/x' && exec '$cli' 'E -n1 \"$work/large.lzh\" \"$work/x/\"'")
  cmp -s "$work/x/large.bin" "$large" && same=identical || same=DIFFERENT
  echo "large: extract cpu $1 s, wall $2 s, peak $3 MiB, $same"
fi
