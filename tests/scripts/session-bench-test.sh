#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: session-bench-test.sh BUILD_DIR
# The session benchmark stops with a reason, and prints no ratio, when its
# reference client does not connect (here a stand-in xfreerdp3 that fails as a
# refused connection does) instead of comparing against figures of nothing.
set -uo pipefail
build=${1:?usage: session-bench-test.sh BUILD_DIR}
run="$(cd "$(dirname "$0")/../.." && pwd)/bench/session/run.sh"
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
printf '#!/bin/sh\necho "freerdp_connect: ERRCONNECT_CONNECT_FAILED"\nexit 131\n' > "$fake/xfreerdp3"
chmod +x "$fake/xfreerdp3"

out=$(PATH="$fake:$PATH" ROUNDS=1 bash "$run" "$build" 2 2>&1)
status=$?
failures=0
fail() { echo "FAILED: $*"$'\n'"$out"; failures=$((failures + 1)); }
[[ $status -ne 0 ]] || fail "the benchmark succeeded"
grep -q "xfreerdp3 did not stay connected" <<< "$out" || fail "no reason given"
grep -q "ERRCONNECT_CONNECT_FAILED" <<< "$out" || fail "the client's output is not shown"
! grep -q "ratio" <<< "$out" || fail "ratios were printed"
echo "$((4 - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
