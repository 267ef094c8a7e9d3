#!/usr/bin/env bash
# Builds the archivers' libFuzzer targets with clang and runs each for a bounded time over
# its seed archives. Any crash, leak or sanitizer report fails the run.
# Usage: scripts/fuzz.sh [seconds per target, default 45]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-45}
cmake --preset fuzz -DTAVRUN_BUILD_TESTS=OFF \
  -DTAVRUN_DIRS="archivers/shared;archivers/lzh;archivers/zip" >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target fuzz_lzh_extract fuzz_lzh_decode \
  fuzz_zip_extract
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
run() {
  local target=$1 rc=0
  shift
  mkdir -p "$work/$target"
  echo "Fuzzing $target for ${seconds}s"
  # New inputs go to the scratch corpus; the seeds in the tree are only read. Crash files
  # land in the scratch directory too.
  build/fuzz/bin/"$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/" \
    "$work/$target" "$@" >"$work/$target.log" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    tail -n 60 "$work/$target.log"
    echo "$target FAILED (exit $rc)"
  else
    grep -E 'stat::number_of_executed_units|^Done' "$work/$target.log" || true
    echo "$target passed"
  fi
  return "$rc"
}
status=0
# Seeds: our fixtures and the corpora of archives other tools made.
# Not the LZH corpus: one of its real archives expands to 400 MB, which the sanitized build
# takes longer than the per-input limit to decode.
run fuzz_lzh_extract tests/lzh/fixtures/jlha || status=1
run fuzz_lzh_decode tests/lzh/fixtures/jlha || status=1
run fuzz_zip_extract tests/zip/fuzz_seeds tests/zip/corpus || status=1
exit $status
