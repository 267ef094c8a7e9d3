#!/bin/sh
# tavrun-cli with 2 jobs against 1: 10,000 small files and 20 large ones, compressed and
# extracted in both formats. Prints the best wall time of REPEAT runs (default 3) per batch
# and the ratio of 1 job to 2 jobs. On a machine shared with other work, compare the ratio of
# runs made back to back, not figures from different days.
#   [REPEAT=3] [SMALL=10000] [LARGE=20] [LARGE_MB=16] bench/cli/run.sh BUILD_DIR
set -eu
build=${1:?build directory}
cli="$build/bin/tavrun-cli"
[ -x "$cli" ] || { echo "no $cli: build the target tavrun-cli first" >&2; exit 2; }
repeat=${REPEAT:-3}
small=${SMALL:-10000}
large=${LARGE:-20}
large_mb=${LARGE_MB:-16}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Small files: 1 KiB of text each, all different. Large files: half text-like, half random,
# so the encoders do real work and the stored fallback is exercised too.
mkdir "$work/small" "$work/large"
python3 - "$work" "$small" "$large" "$large_mb" <<'PY'
import os, random, sys
work, small, large, mb = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(1)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 9)))
         for _ in range(3000)]
def text(n):
    out, size = [], 0
    while size < n:
        w = rng.choice(words)
        out.append(w)
        size += len(w) + 1
    return (' '.join(out)[:n]).encode()
for i in range(small):
    with open(os.path.join(work, 'small', 'f%05d.txt' % i), 'wb') as f:
        f.write(text(1024))
for i in range(large):
    with open(os.path.join(work, 'large', 'big%02d.dat' % i), 'wb') as f:
        half = mb * 1024 * 1024 // 2
        f.write(text(half))
        f.write(rng.randbytes(half))
PY

best() {  # best wall seconds of REPEAT runs of: prepare-command, timed command
  b=""
  i=0
  while [ $i -lt "$repeat" ]; do
    sh -c "$1"
    s=$(date +%s.%N)
    sh -c "$2" >/dev/null 2>&1 || { echo "FAILED: $2" >&2; }
    e=$(date +%s.%N)
    b=$(awk -v s="$s" -v e="$e" -v b="$b" 'BEGIN { t = e - s; print (b == "" || t < b) ? t : b }')
    i=$((i + 1))
  done
  printf '%.2f' "$b"
}

printf '%-8s %-5s %-9s %8s %8s %6s\n' set format operation "1 job" "2 jobs" ratio
for set in small large; do
  for format in lzh zip; do
    arc="$work/arc-$set-$format"
    out="$work/out-$set-$format"
    c1=$(best "rm -rf '$arc'; mkdir '$arc'" "'$cli' compress --format $format -q --jobs 1 '$work/$set' '$arc'")
    c2=$(best "rm -rf '$arc'; mkdir '$arc'" "'$cli' compress --format $format -q --jobs 2 '$work/$set' '$arc'")
    x1=$(best "rm -rf '$out'; mkdir '$out'" "'$cli' extract --format $format -q --dir-per-archive --jobs 1 '$arc' '$out'")
    x2=$(best "rm -rf '$out'; mkdir '$out'" "'$cli' extract --format $format -q --dir-per-archive --jobs 2 '$arc' '$out'")
    printf '%-8s %-5s %-9s %8s %8s %6.2f\n' "$set" $format compress "$c1" "$c2" "$(awk "BEGIN { print $c1 / $c2 }")"
    printf '%-8s %-5s %-9s %8s %8s %6.2f\n' "$set" $format extract "$x1" "$x2" "$(awk "BEGIN { print $x1 / $x2 }")"
  done
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), processors: $(nproc)"
