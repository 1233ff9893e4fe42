#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: bash bench/resize/run.sh BUILD_DIR
# How soon a dragged window's new desktop size reaches an xrdp server of the
# benchmark's own, for the session widget and for xfreerdp3
# /dynamic-resolution, on a virtual display of its own. Figures only.
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
bench="$build/bin/vandrelle-resize-bench"
[[ -x "$bench" ]] || { echo "run.sh: $bench is missing; build it first" >&2; exit 1; }
command -v xfreerdp3 >/dev/null || { echo "run.sh: xfreerdp3 is not installed (make deps)" >&2; exit 1; }
source "$(dirname "$0")/../virtual-display.sh" resize
"$bench"
