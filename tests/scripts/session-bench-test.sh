#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: session-bench-test.sh BUILD_DIR
# The session benchmark stops with a reason, and prints no ratio, when its
# reference client does not connect (here a stand-in xfreerdp3 that fails as a
# refused connection does) instead of comparing against figures of nothing.
set -uo pipefail
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
printf '#!/bin/sh\necho "freerdp_connect: ERRCONNECT_CONNECT_FAILED"\nexit 131\n' > "$fake/xfreerdp3"
chmod +x "$fake/xfreerdp3"
out=$(PATH="$fake:$PATH" ROUNDS=1 bash "$(dirname "$0")/../../bench/session/run.sh" "${1:?usage: session-bench-test.sh BUILD_DIR}" 2 2>&1) &&
  { echo "FAILED: the benchmark succeeded"$'\n'"$out"; exit 1; }
grep -q "xfreerdp3 did not stay connected" <<< "$out" && grep -q "ERRCONNECT_CONNECT_FAILED" <<< "$out" &&
  ! grep -q "ratio" <<< "$out" || { echo "FAILED: no reason, no client output, or ratios printed:"$'\n'"$out"; exit 1; }
echo "session-bench-test: passed"
