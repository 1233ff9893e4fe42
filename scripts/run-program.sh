#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the program. On a machine without a display it starts a virtual one
# (Xvfb), runs the program there, writes a picture of its window to a file
# whose path it prints, and keeps running until Ctrl+C, which ends the
# program as a close does (the configuration saved) and then the display.
# Without a terminal to press Ctrl+C in (a script, CI), it ends the program
# so once the picture is taken. The virtual display admits only holders of a
# cookie kept in a private temporary folder, removed at the end: without it,
# any local user could watch the window and click in it.
set -euo pipefail
program=${1:?usage: run-program.sh PROGRAM}

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$program"
fi

auth=$(mktemp -d --tmpdir vandrelle-display-XXXXXX)  # mode 0700
trap 'rm -rf "$auth"' EXIT
export XAUTHORITY="$auth/cookie"
cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
(umask 077 && : >"$XAUTHORITY")

# A display number that no X server holds or left behind. An X server of
# another file system (a container) may hold a number whose files are not
# seen here, through its abstract socket: an Xvfb that cannot have the number
# ends at once, and the next is tried.
number=89
xvfb=
for _ in $(seq 1 50); do
  number=$((number + 1))
  while [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; do
    number=$((number + 1))
  done
  xauth -q -f "$XAUTHORITY" add ":$number" . "$cookie"
  setsid Xvfb ":$number" -auth "$XAUTHORITY" -screen 0 1280x800x24 -nolisten tcp -noreset \
    >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$number" ] || ! kill -0 "$xvfb" 2>/dev/null && break
    sleep 0.05
  done
  kill -0 "$xvfb" 2>/dev/null && break
  wait "$xvfb" 2>/dev/null || true
done
export DISPLAY=":$number"

"$program" &
pid=$!
stop() {
  trap - INT TERM
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  kill -TERM "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
}
trap 'stop; exit 0' INT TERM

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Vandrelle$' 2>/dev/null | head -1 || true)
if [ -n "$window" ]; then
  sleep 1  # the first paint
  shot=$(mktemp --tmpdir vandrelle-window-XXXXXX.png)
  import -window "$window" "$shot"
  echo "Vandrelle runs on the virtual display $DISPLAY (there is no display here)."
  echo "A picture of its window: $shot"
  if [ -t 0 ]; then
    echo "Press Ctrl+C to end it."
  else
    echo "No terminal to end it from: it is ended now."
    kill -TERM "$pid"
  fi
else
  echo "run-program: the program's window did not appear on the virtual display $DISPLAY" >&2
  kill -TERM "$pid" 2>/dev/null || true
fi
status=0
wait "$pid" || status=$?
stop
[ -n "$window" ] || exit 1
exit "$status"
