#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: bash bench/find/run.sh BUILD_DIR [TYPED...]
# The find bar over the configuration benchmark's 10,000 servers, on a virtual
# display of its own: each keystroke's filter and repaint as TYPED is typed
# and taken back ("srv-012" and "web12" unless given), and opening and
# closing the bar. Figures only, no pass/fail.
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR [TYPED...]}" && pwd)
shift
bench="$build/bin/vandrelle-find-bench"
generate="$build/bin/vandrelle-generate-config"
for p in "$bench" "$generate"; do
  [[ -x "$p" ]] || { echo "run.sh: $p is missing; build it first" >&2; exit 1; }
done
source "$(dirname "$0")/../virtual-display.sh" find
"$generate" "$work/Vandrelle.xml" 10000 1000 >/dev/null

# The same count of servers in a chain of 100 nested groups with long
# labels: a keystroke's work should not grow with depth or label length.
python3 - "$work/Deep.xml" <<'PY'
import sys
from xml.sax.saxutils import escape
parts = ['<?xml version="1.0" encoding="utf-8"?><Vandrelle><Servers>']
for level in range(100):
    parts.append("<Group><Properties><Name>%s</Name></Properties>" % escape(
        "Level %03d of a long chain of nested groups in the data centre" % level))
    for i in range(100):
        n = level * 100 + i
        parts.append("<Server><Name>srv-%05d with a rather long descriptive label</Name>"
                     "<Server>srv-%05d.example.test</Server></Server>" % (n, n))
parts.append("</Group>" * 100 + "</Servers></Vandrelle>")
open(sys.argv[1], "w").write("".join(parts))
PY

[[ $# -gt 0 ]] || set -- srv-012 web12
for typed in "$@"; do
  echo "typed \"$typed\", 10,000 servers in 1,000 groups, 3 levels:"
  "$bench" "$work/Vandrelle.xml" "$typed" | sed 's/^figure /  /'
  echo "typed \"$typed\", 10,000 servers in 100 nested groups, long labels:"
  "$bench" "$work/Deep.xml" "$typed" | sed 's/^figure /  /'
done
