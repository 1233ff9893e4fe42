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
work=$(mktemp -d "${TMPDIR:-/tmp}/vandrelle-find-XXXXXX")
xvfb=
cleanup() { [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
export HOME="$work" XDG_CONFIG_HOME="$work/xdg" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
"$generate" "$work/Vandrelle.xml" 10000 1000 >/dev/null

number=$(( 600 + $$ % 300 ))
while [[ -e /tmp/.X$number-lock || -e /tmp/.X11-unix/X$number ]]; do number=$((number + 1)); done
Xvfb ":$number" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 & xvfb=$!
for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X$number ]] && break; sleep 0.05; done
export DISPLAY=":$number"

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
