#!/bin/sh
# Compression of libunlha32.so against jlha (the only other LZH encoder on Debian), side by
# side on the same inputs in one run, and extraction speed against lhasa and bsdtar.
#   [REPEAT=1] [CAP_MB=8] [LARGE_MIB=N] [BASE=DIR] bench/lzh/run.sh BUILD_DIR
# BASE: a directory holding another build's libunlha32.so (say, the main branch's), timed in
# the same run on the same inputs, so that two encoders compare on equal terms.
# Corpora, each cut to CAP_MB megabytes:
#   text   English: the copyright files under /usr/share/doc, concatenated
#   ja     Japanese: vim's Japanese tutor (UTF-8, EUC-JP, Shift_JIS), gnupg's Japanese help
#          and the Japanese message catalogues under /usr/share/locale, as text
#   src    C headers under /usr/include, concatenated
#   bin    /usr/bin/gdb
#   small  a batch of 400 header files of 1-16 KB from /usr/include, one member each
# "packed" is the sum of the members' compressed sizes (headers left out, as `lhasa v`
# reports it), so header layouts do not count. cpu = user + system seconds (best of
# REPEAT), MiB = peak resident set. jlha's cpu includes the start of its Java VM.
set -eu
build=${1:?build directory}
cli="$build/bin/lzh_cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cap=$(( ${CAP_MB:-8} * 1000000 ))
repeat=${REPEAT:-1}
have() { command -v "$1" >/dev/null 2>&1; }

mkdir "$work/c"
find /usr/share/doc -name copyright -type f | sort | xargs cat 2>/dev/null | head -c $cap > "$work/c/text" || true
{
  for f in /usr/share/vim/vim*/tutor/tutor.ja.* /usr/share/gnupg/help.ja.txt; do
    [ -f "$f" ] && cat "$f"
  done
  if have msgunfmt; then
    for f in /usr/share/locale/ja/LC_MESSAGES/*.mo; do msgunfmt "$f" 2>/dev/null || true; done
  fi
} | head -c $cap > "$work/c/ja" || true
find /usr/include -name '*.h' -type f | sort | xargs cat 2>/dev/null | head -c $cap > "$work/c/src" || true
head -c $cap /usr/bin/gdb > "$work/c/bin"
mkdir "$work/small"
find /usr/include -name '*.h' -type f -size +1k -size -16k | sort | head -400 |
  while read -r f; do cp "$f" "$work/small/$(echo "$f" | tr / _)"; done

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
packed() { lhasa v "$1" | awk '/ Total / { print $4 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == "-" || b == 0) print "-"; else printf "%.4f", a / b }'; }
mbs() { awk -v n="$1" -v c="$2" 'BEGIN { if (c == "-" || c == 0) print "-"; else printf "%.1f", n / c / 1e6 }'; }

base=${BASE:-}
printf '%-6s %-4s %10s | %10s %6s %5s %6s %4s | %10s %5s | %8s |%s %s\n' \
  input meth bytes ours_packed ratio% cpu MB/s MiB jlha_packed cpu ours/jlha \
  "${base:+ base_packed cpu MB/s base/jlha |}" "extract cpu: ours lhasa bsdtar"
for name in text ja src bin small; do
  if [ "$name" = small ]; then
    files=$(ls "$work/small" | tr '\n' ' ')
    insize=$(cat "$work/small"/* | wc -c)
    dir="$work/small"
  else
    files=$name
    insize=$(stat -c %s "$work/c/$name")
    dir="$work/c"
  fi
  for m in 5 6 7; do
    case $m in 5) jm=2 ;; 6) jm=3 ;; 7) jm=4 ;; esac
    quoted=""
    for f in $files; do quoted="$quoted \\\"$dir/$f\\\""; done
    set -- $(timed "rm -f '$work/ours.lzh'; exec '$cli' \"U -n1 -jm$jm \\\"$work/ours.lzh\\\"$quoted\"")
    oc=$1 om=$3
    op=$(packed "$work/ours.lzh")
    jp=- jc=-
    if have jlha; then
      set -- $(timed "cd '$dir' && rm -f '$work/jlha.lzh' && exec jlha a2o$m '$work/jlha.lzh' $files")
      jc=$1
      [ -f "$work/jlha.lzh" ] && jp=$(packed "$work/jlha.lzh")
    fi
    bcol=""
    if [ -n "$base" ]; then
      set -- $(timed "rm -f '$work/base.lzh'; export TAVRUN_COMPONENT_DIR='$base'; exec '$cli' \"U -n1 -jm$jm \\\"$work/base.lzh\\\"$quoted\"")
      bp=$(packed "$work/base.lzh")
      bcol=$(printf ' %10s %5s %6s %8s |' "$bp" "$1" "$(mbs "$insize" "$1")" "$(ratio "$bp" "$jp")")
    fi
    set -- $(timed "rm -rf '$work/x' && mkdir '$work/x' && exec '$cli' 'E -n1 \"$work/ours.lzh\" \"$work/x/\"'")
    ex="$1"
    for f in $files; do cmp -s "$work/x/$f" "$dir/$f" || { ex="$ex(MISMATCH)"; break; }; done
    if have lhasa; then
      set -- $(timed "rm -rf '$work/x' && mkdir '$work/x' && cd '$work/x' && exec lhasa xq '$work/ours.lzh'")
      ex="$ex $1"
    fi
    if have bsdtar; then
      set -- $(timed "rm -rf '$work/x' && mkdir '$work/x' && exec bsdtar -xf '$work/ours.lzh' -C '$work/x'")
      ex="$ex $1"
    fi
    printf '%-6s lh%-2s %10s | %10s %6s %5s %6s %4s | %10s %5s | %8s |%s %s\n' \
      $name $m "$insize" "$op" "$(awk -v a="$op" -v b="$insize" 'BEGIN{printf "%.2f", 100*a/b}')" \
      "$oc" "$(mbs "$insize" "$oc")" "$om" "$jp" "$jc" "$(ratio "$op" "$jp")" "$bcol" "$ex"
  done
done

# Optional streaming check: LARGE_MIB=N builds an N MiB file (the text repeated with a
# changing line in between) and reports the peak memory of compressing and extracting it.
if [ -n "${LARGE_MIB:-}" ]; then
  large="$work/large.bin"
  i=0
  while [ "$(stat -c %s "$large" 2>/dev/null || echo 0)" -lt $((LARGE_MIB * 1048576)) ]; do
    cat "$work/c/text" >> "$large"
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
