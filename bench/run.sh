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
for program in vandrelle-generate-config vandrelle-config-bench vandrelle-keystore-bench vandrelle-cli; do
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

runs=11
times=()
for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$bin/vandrelle-cli" --config "$config" tree >/dev/null
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
done
median_us=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")

echo
echo "figures (median; ratio = figure / floor):"
{ grep -o 'summary .*' "$work/bench.txt" || true; } | sed 's/^summary /  /'
awk -v us="$median_us" -v runs="$runs" '
    $1 == "summary" && $2 == "Load" { floor = $6 }
    END {
        printf "  %-16s %10.3f ms  (median of %d runs", "cli tree", us / 1000, runs
        if (floor > 0) printf "; %.2f x the Load floor of %.3f ms", us / 1000 / floor, floor
        printf ")\n"
    }' "$work/bench.txt"
