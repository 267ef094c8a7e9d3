#!/bin/sh
# Extraction CPU of libunlha32.so against bsdtar (libarchive's LHA reader) and lhasa
# (liblhasa), side by side in one run, on several inputs and methods; then decoding alone
# (no file written) through our decoder and through libarchive, the alternative we weighed.
#   [REPEAT=5] bench/lzh/extract.sh BUILD_DIR [INPUT...]
# Default inputs: the copyright files under /usr/share/doc concatenated (text), /usr/bin/gdb
# (binary) and an already compressed file (nearly incompressible). Archives are made by our
# library and by jlha (a different encoder, so block layouts differ). Every tool writes the
# file to disk; each figure is the best of REPEAT runs of user+system CPU seconds.
set -eu
build=${1:?build directory}
shift
cli="$build/bin/lzh_cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
repeat=${REPEAT:-5}
if [ $# -eq 0 ]; then
  mkdir "$work/in"
  # Four copies each, so the tools' start-up (ours loads Qt) weighs little against decoding;
  # the copies sit further apart than any window, so they are really decoded four times.
  find /usr/share/doc -name copyright -type f | sort | xargs cat > "$work/one" 2>/dev/null || true
  cat "$work/one" "$work/one" "$work/one" "$work/one" > "$work/in/text"
  cat /usr/bin/gdb /usr/bin/gdb /usr/bin/gdb /usr/bin/gdb > "$work/in/binary"
  gzip -c < /usr/bin/gdb > "$work/one"
  cat "$work/one" "$work/one" "$work/one" "$work/one" > "$work/in/packed"
  rm "$work/one"
  set -- "$work/in/text" "$work/in/binary" "$work/in/packed"
fi
for tool in bsdtar lhasa; do
  command -v $tool >/dev/null 2>&1 || { echo "missing tool: $tool" >&2; exit 1; }
done
best() {  # command -> best "user+system" seconds
  b=""
  i=0
  while [ $i -lt "$repeat" ]; do
    rm -rf "$work/x" && mkdir "$work/x"
    /usr/bin/time -f "%U %S" -o "$work/t" sh -c "$1" >/dev/null 2>&1 || { echo FAILED; return; }
    t=$(awk '{ printf "%.3f", $1 + $2 }' "$work/t")
    b=$(awk -v a="$t" -v b="$b" 'BEGIN { print (b == "" || a < b) ? a : b }')
    i=$((i + 1))
  done
  echo "$b"
}
echo hi > "$work/tiny"
"$cli" "U -n1 \"$work/tiny.lzh\" \"$work/tiny\"" >/dev/null
echo "start-up, 3-byte archive: ours $(best "exec '$cli' 'E -n1 \"$work/tiny.lzh\" \"$work/x/\"'")" \
  "bsdtar $(best "exec bsdtar -xf '$work/tiny.lzh' -C '$work/x'")"
dec="$build/bin/lzh_decode_bench"
[ -x "$dec" ] || { echo "missing $dec (needs libarchive-dev)" >&2; exit 1; }
printf '%-8s %-5s %-5s %10s | %7s %7s %7s | %-23s | %s\n' input maker meth bytes ours bsdtar lhasa \
  "ours/bsdtar ours/lhasa" "decode only: ours libarchive ratio"
for input in "$@"; do
  name=$(basename "$input")
  cp "$input" "$work/$name"
  for m in 5 6 7; do
    case $m in 5) jm=2 ;; 6) jm=3 ;; 7) jm=4 ;; esac
    for maker in ours jlha; do
      a="$work/$maker.lzh"
      rm -f "$a"
      if [ $maker = ours ]; then
        "$cli" "U -n1 -jm$jm \"$a\" \"$work/$name\"" >/dev/null
      else
        command -v jlha >/dev/null 2>&1 || continue
        (cd "$work" && jlha a2o$m "$maker.lzh" "$name" >/dev/null 2>&1)
      fi
      o=$(best "exec '$cli' 'E -n1 \"$a\" \"$work/x/\"'")
      cmp -s "$work/x/$name" "$input" || o="$o(MISMATCH)"
      b=$(best "exec bsdtar -xf '$a' -C '$work/x'")
      l=$(best "cd '$work/x' && exec lhasa x '$a'")
      do_=$(best "exec '$dec' ours '$a'")
      da=$(best "exec '$dec' libarchive '$a'")
      [ "$("$dec" ours "$a")" = "$("$dec" libarchive "$a")" ] || da="$da(SIZE MISMATCH)"
      printf '%-8s %-5s lh%-3s %10s | %7s %7s %7s | %-11s %-11s | %s %s %s\n' "$name" $maker $m \
        "$(stat -c %s "$input")" "$o" "$b" "$l" "$(awk -v a="$o" -v b="$b" 'BEGIN { printf "%.2f", a / b }')" \
        "$(awk -v a="$o" -v b="$l" 'BEGIN { printf "%.2f", a / b }')" "$do_" "$da" \
        "$(awk -v a="$do_" -v b="$da" 'BEGIN { printf "%.2f", a / b }')"
    done
  done
  rm -f "$work/$name"
done
