#!/usr/bin/env bash
# Checks that every C and C++ source of the repository is formatted as .clang-format says.
# Lists the files that differ and fails when there is one; `--fix` formats them instead.
# Usage: scripts/format-check.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."
formatter=$(command -v clang-format || command -v clang-format-14 || true)
[ -n "$formatter" ] || { echo "format check: clang-format is missing (scripts/install-deps.sh)." >&2; exit 1; }
mapfile -t files < <(git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
[ ${#files[@]} -gt 0 ] || { echo "format check: no sources found (not a git checkout?)" >&2; exit 1; }
if [ "${1:-}" = "--fix" ]; then
  "$formatter" -i "${files[@]}"
  exit 0
fi
# One run over all files; each difference is reported as "<file>:<line>:<col>: error: ...".
status=0
report=$("$formatter" --dry-run -Werror "${files[@]}" 2>&1 >/dev/null) || status=$?
mapfile -t bad < <(printf '%s\n' "$report" | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: .*/\1/p' | sort -u)
if [ "$status" -ne 0 ] && [ ${#bad[@]} -eq 0 ]; then
  printf 'format check FAILED: clang-format could not check the files:\n%s\n' "$report" >&2
  exit 1
fi
if [ ${#bad[@]} -gt 0 ]; then
  echo "format check FAILED: ${#bad[@]} of ${#files[@]} files differ from .clang-format:" >&2
  printf '  %s\n' "${bad[@]}" >&2
  echo "scripts/format-check.sh --fix formats them." >&2
  exit 1
fi
echo "format check passed: ${#files[@]} files"
