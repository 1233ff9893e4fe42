#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The size of the tests against the code: lines of tests/ over lines of src/
# and tools/, counting in the C++, shell, Python and CMake files git tracks
# the lines that are neither blank nor only a comment ("//..." or "#...").
# Prints both counts and the ratio; exits 1 when the ratio is above MAX
# (default 0.40).
set -euo pipefail
cd "$(dirname "$0")/.."
MAX=${MAX:-0.40}

count() {
  git ls-files -- "$@" |
    grep -E '\.(cpp|h|sh|py|cmake)$|(^|/)CMakeLists\.txt$' |
    { xargs -r -d '\n' cat || true; } |
    grep -cvE '^[[:space:]]*$|^[[:space:]]*(//|#)' || true
}

code=$(count src tools)
tests=$(count tests)
ratio=$(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.2f", c ? t / c : 0 }')
echo "tests: $tests lines; src and tools: $code lines; ratio $ratio (at most $MAX)"
awk -v t="$tests" -v c="$code" -v m="$MAX" 'BEGIN { exit !(t <= m * c) }' || {
  echo "test-ratio: the tests are larger than $MAX of the code" >&2
  exit 1
}
