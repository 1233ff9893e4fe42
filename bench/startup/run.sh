#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: [RUNS=n] bash bench/startup/run.sh BUILD_DIR
# The program's start with the configuration benchmark's 10,000 servers, on a
# virtual display of its own: start to the first painted window (median of
# RUNS, 5 unless set), the tree panel's build alone, the tree followed after
# another writer changed the file, and the resident memory
# of the process with its window and that configuration, no session.
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
bench="$build/bin/vandrelle-startup-bench"
generate="$build/bin/vandrelle-generate-config"
for p in "$bench" "$generate"; do
  [[ -x "$p" ]] || { echo "run.sh: $p is missing; build it first" >&2; exit 1; }
done
source "$(dirname "$0")/../virtual-display.sh" startup
mkdir -p "$work/program"
"$generate" "$work/program/Vandrelle.xml" 10000 1000 >/dev/null

"$bench" "$work/program" "$(date +%s%N)" >/dev/null  # warms the page cache
starts=()
for _ in $(seq "${RUNS:-5}"); do
  out=$("$bench" "$work/program" "$(date +%s%N)")
  starts+=("$(grep -o 'first paint: [0-9.]*' <<<"$out" | awk '{print $3}')")
done
median=$(printf '%s\n' "${starts[@]}" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
echo "start to first painted window, 10,000 servers: $median ms (median; runs: ${starts[*]})"
grep -E 'tree panel|tree followed|resident memory|window menu' <<<"$out" | sed 's/^figure //'
