# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the benchmarks that show a window: a scratch folder ($work) as
# the user's home, and a virtual display of their own ($DISPLAY), both gone
# at exit. Usage: source bench/virtual-display.sh NAME
work=$(mktemp -d "${TMPDIR:-/tmp}/vandrelle-$1-XXXXXX")
xvfb=
cleanup() { [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
export HOME="$work" XDG_CONFIG_HOME="$work/xdg" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

number=$(( 600 + $$ % 300 ))
while [[ -e /tmp/.X$number-lock || -e /tmp/.X11-unix/X$number ]]; do number=$((number + 1)); done
Xvfb ":$number" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 & xvfb=$!
for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X$number ]] && break; sleep 0.05; done
export DISPLAY=":$number"
