#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: [RUNS=n] bash bench/startup/run.sh BUILD_DIR
# The program's start with the configuration benchmark's 10,000 servers, on a
# virtual display of its own, without a session bus and then with one
# (dbus-run-session): start to the first painted window (median of RUNS, 5
# unless set) beside a bare Qt main window with a tree started the same way
# in the same run, and their ratio; the median of each step of the program's
# start; then, from the last run, the tree panel's build alone, the tree
# followed after another writer changed the file, and the resident memory of
# the process with its window and that configuration, no session.
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
bench="$build/bin/vandrelle-startup-bench"
bare="$build/bin/vandrelle-bare-window"
generate="$build/bin/vandrelle-generate-config"
for p in "$bench" "$bare" "$generate"; do
  [[ -x "$p" ]] || { echo "run.sh: $p is missing; build it first" >&2; exit 1; }
done

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
first_paint() { grep -o '^figure start to first paint: [0-9.]*' | awk '{print $6}'; }
processor() { grep -o '^figure processor time to first paint: [0-9.]*' | awk '{print $7}'; }

# The runs, ours and the bare window's in turn, so that both see the same load.
measure() {
  source "$(dirname "$0")/../virtual-display.sh" startup
  mkdir -p "$work/program"
  "$generate" "$work/program/Vandrelle.xml" 10000 1000 >/dev/null
  "$bench" "$work/program" "$(date +%s%N)" >/dev/null  # warms the page cache
  "$bare" "$(date +%s%N)" >/dev/null
  local ours=() bares=() ourCpu=() bareCpu=() out bareOut
  : >"$work/steps"
  for _ in $(seq "${RUNS:-5}"); do
    out=$("$bench" "$work/program" "$(date +%s%N)")
    ours+=("$(first_paint <<<"$out")")
    ourCpu+=("$(processor <<<"$out")")
    grep '^figure step ' <<<"$out" | sed 's/^figure step //' >>"$work/steps"
    bareOut=$("$bare" "$(date +%s%N)")
    bares+=("$(first_paint <<<"$bareOut")")
    bareCpu+=("$(processor <<<"$bareOut")")
  done
  local m b mc bc
  m=$(printf '%s\n' "${ours[@]}" | median)
  b=$(printf '%s\n' "${bares[@]}" | median)
  mc=$(printf '%s\n' "${ourCpu[@]}" | median)
  bc=$(printf '%s\n' "${bareCpu[@]}" | median)
  echo "== $1"
  echo "start to first painted window, 10,000 servers: $m ms (median; runs: ${ours[*]})"
  echo "bare Qt main window with a tree: $b ms (median; runs: ${bares[*]})"
  awk -v m="$m" -v b="$b" 'BEGIN { printf "ratio: %.2f\n", m / b }'
  echo "processor time to first paint: $mc ms, the bare window's $bc ms (medians)," \
    "ratio $(awk -v m="$mc" -v b="$bc" 'BEGIN { printf "%.2f", m / b }')"
  echo "steps of the start (median of the runs, each from the end of the one before):"
  # Each step's name in the order of the start, then its median.
  awk -F': ' '!seen[$1]++ { print $1 }' "$work/steps" | while IFS= read -r step; do
    awk -F': ' -v s="$step" '$1 == s { print $2 + 0 }' "$work/steps" | median |
      awk -v s="$step" '{ printf "  %-58s %7.1f ms\n", s, $1 / 1000 }'
  done
  grep -E 'engine module|tree panel|tree followed|resident memory|window menu' <<<"$out" |
    sed 's/^figure //'
}

if [[ ${VANDRELLE_STARTUP_BUS:-} == session ]]; then
  measure "with a session bus"
  exit
fi
(unset DBUS_SESSION_BUS_ADDRESS; measure "without a session bus")
VANDRELLE_STARTUP_BUS=session dbus-run-session -- bash "$0" "$build"
