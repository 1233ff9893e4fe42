#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: bash bench/run.sh BUILD_DIR [benchmark flags...]
# Runs the configuration benchmarks of an existing build (it builds nothing),
# the key-store benchmark (opening the program's key in a large key store),
# and times "vandrelle-cli --config FILE tree" on a generated configuration of
# 10,000 servers. Everything it writes, the cli's key store included, lives in
# a temporary folder, so the user's own configuration is never touched.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: bash bench/run.sh BUILD_DIR [benchmark flags...]" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
shift
bin="$build/bin"
for program in vandrelle-generate-config vandrelle-config-bench vandrelle-keystore-bench vandrelle-cli \
    vandrelle-parse-floor; do
    if [[ ! -x "$bin/$program" ]]; then
        echo "run.sh: $bin/$program is missing; build it first" >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vandrelle-run-XXXXXX")
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/xdg"
export TMPDIR="$work"
mkdir -p "$XDG_CONFIG_HOME"

config="$work/Vandrelle.xml"
"$bin/vandrelle-generate-config" "$config" 10000 1000
echo "generated $config: $(stat -c %s "$config") bytes"

"$bin/vandrelle-config-bench" "$@" | tee "$work/bench.txt"
echo
"$bin/vandrelle-keystore-bench"

# One untimed run creates the cli's key store and warms the page cache; it
# also checks that the tree is complete (1,000 groups and 10,000 servers).
lines=$("$bin/vandrelle-cli" --config "$config" tree | wc -l)
if [[ $lines -lt 11000 ]]; then
    echo "run.sh: the cli printed $lines lines for 11,000 nodes" >&2
    exit 1
fi

# The cli's "tree" beside the floor: a process that loads the same file with
# pugixml alone and walks every node. The two take turns, so that a change in
# the machine's pace meets both; each figure is the median of 11 runs, with
# the largest resident memory of the runs against the file's size.
measure() {  # COMMAND...: wall microseconds and peak resident KiB
    python3 - "$@" <<'PY'
import resource, subprocess, sys, time
start = time.perf_counter_ns()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
print((time.perf_counter_ns() - start) // 1000, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
PY
}
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
runs=11
tree_us=() floor_us=() tree_kib=0 floor_kib=0
for ((i = 0; i < runs; i++)); do
    read -r us kib < <(measure "$bin/vandrelle-cli" --config "$config" tree)
    tree_us+=("$us")
    ((kib > tree_kib)) && tree_kib=$kib
    read -r us kib < <(measure "$bin/vandrelle-parse-floor" "$config")
    floor_us+=("$us")
    ((kib > floor_kib)) && floor_kib=$kib
done
size=$(stat -c %s "$config")

echo
echo "figures (median; ratio = figure / floor):"
{ grep -o 'summary .*' "$work/bench.txt" || true; } | sed 's/^summary /  /'
awk -v tree="$(median "${tree_us[@]}")" -v floor="$(median "${floor_us[@]}")" -v runs="$runs" \
    -v tkib="$tree_kib" -v fkib="$floor_kib" -v size="$size" '
    BEGIN {
        printf "  %-16s %10.3f ms  floor %10.3f ms  ratio %5.2f  (processes, median of %d;" \
            " pugixml alone parses and walks the file)\n", "cli tree", tree / 1000, floor / 1000,
            tree / floor, runs
        printf "  %-16s %10.1f MiB floor %10.1f MiB ratio %5.2f  (peak resident; %.2f x the" \
            " file of %.1f MiB)\n", "cli tree memory", tkib / 1024, fkib / 1024, tkib / fkib,
            tkib * 1024 / size, size / 1048576
    }'
