#!/bin/bash
# What data that does not compress costs: tavrun-cli --jobs 1 compresses a batch of photos,
# ZIPs of photos and random data (about 30 MB) and the mixed office batch of
# bench/lzh/make_office.sh to LZH (-lh5-, -lh7-) and ZIP (-6), and prints CPU seconds
# (user + system, best of REPEAT) and archive bytes per batch, with LZH's CPU against ZIP's.
# BASE=DIR (an installed or built tree with bin/tavrun-cli and lib/tavrun, say the main
# branch's) runs beside it on the same files: two builds compare only side by side, in one run.
#   [REPEAT=3] [BASE=DIR] [OFFICE=DIR made by make_office.sh] incompressible.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: incompressible.sh BUILD_DIR}
repeat=${REPEAT:-3}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

office=${OFFICE:-}
if [ -z "$office" ]; then
  office=$work/office
  "$here/../lzh/make_office.sh" "$office" > /dev/null
fi
mkdir "$work/inc"
cp "$office"/files/photo*.jpg "$office"/files/photos.zip "$work/inc/"
(cd "$office/files" && zip -qj "$work/inc/album.zip" photo*.jpg)
for i in 1 2 3 4 5; do head -c 4000000 /dev/urandom > "$work/inc/random$i.bin"; done

# CPU seconds (user + system) and the bytes written, for one tree, batch and format.
once() {
  local tree=$1 src=$2 fmt=$3 opt=$4 out=$work/out
  rm -rf "$out"
  /usr/bin/time -f "%U %S" -o "$work/t" "$tree/bin/tavrun-cli" compress --format "$fmt" $opt \
    "$src" "$out" --jobs 1 -q
  echo "$(awk '{print $1 + $2}' "$work/t") $(du -sb "$out" | cut -f1)"
}

trees=("$build")
[ -n "${BASE:-}" ] && trees+=("$BASE")
formats=("lzh --method lh5" "lzh --method lh7" "zip --level 6")
declare -A cpu bytes
echo "load $(cut -d' ' -f1 /proc/loadavg); incompressible batch $(du -sb "$work/inc" | cut -f1) bytes"
# The trees take turns within each round, so that a change in the machine's load falls on
# both; each keeps its best round.
for batch in inc office; do
  src=$work/inc
  [ "$batch" = office ] && src=$office/files
  for _ in $(seq "$repeat"); do
    for t in "${!trees[@]}"; do
      for f in "${!formats[@]}"; do
        read -r -a fo <<< "${formats[$f]}"
        read -r c b < <(once "${trees[$t]}" "$src" "${fo[0]}" "${fo[1]} ${fo[2]}")
        k="$batch $t $f"
        if [ -z "${cpu[$k]:-}" ] || awk "BEGIN{exit !($c < ${cpu[$k]})}"; then cpu[$k]=$c; fi
        bytes[$k]=$b
      done
    done
  done
done
printf '| tree | batch | lh5 cpu | lh5 bytes | lh7 cpu | lh7 bytes | zip -6 cpu | zip bytes | lh5/zip cpu | lh7/zip cpu |\n'
printf '|---|---|---:|---:|---:|---:|---:|---:|---:|---:|\n'
for batch in inc office; do
  for t in "${!trees[@]}"; do
    c5=${cpu[$batch $t 0]} c7=${cpu[$batch $t 1]} cz=${cpu[$batch $t 2]}
    printf '| %s | %s | %.2f | %d | %.2f | %d | %.2f | %d | %.1f | %.1f |\n' "${trees[$t]}" \
      "$batch" "$c5" "${bytes[$batch $t 0]}" "$c7" "${bytes[$batch $t 1]}" "$cz" \
      "${bytes[$batch $t 2]}" "$(awk "BEGIN{print $c5 / $cz}")" "$(awk "BEGIN{print $c7 / $cz}")"
  done
done
