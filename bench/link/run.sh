#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: bash bench/link/run.sh BUILD_DIR (as root)
# A dead link and its return, for the engine client and for xfreerdp3 side by
# side: seconds from a cut of the link (typing, then idle) until the client
# declares the link dead (the engine client's session starts healing it;
# xfreerdp3 ends), and from the link's return (after at least 20 s) to the
# remote picture moving again. The
# server (xrdp) and the clients' link live in network namespaces of the
# benchmark's own, removed at the end; xfreerdp3 draws on a virtual display
# of its own. Also the server stopped with its connection open, and a slow
# lossy link that should stay up. Takes about seven minutes. Figures only.
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
bench="$build/bin/vandrelle-link-bench"
[[ -x "$bench" ]] || { echo "run.sh: $bench is missing; build it first" >&2; exit 1; }
for tool in xfreerdp3 nft xdotool xwd; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is not installed (make deps)" >&2; exit 1; }
done
source "$(dirname "$0")/../virtual-display.sh" link
"$bench"
