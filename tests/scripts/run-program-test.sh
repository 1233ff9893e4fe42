#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# make run's virtual display admits the program but no client without its
# cookie, nor another local user (as root: a user added and removed here);
# the cookie's private folder is gone at the end. The program is a stand-in
# that reports what it sees and shows a window of the program's title.
set -uo pipefail
work=$(mktemp -d)
other=
if [ "$(id -u)" = 0 ] && useradd -r "vdl-rp-$$"; then other="vdl-rp-$$"; fi
[ -n "$other" ] || echo "run-program-test: not root, so the other user's check is skipped"
trap '[ -z "$other" ] || userdel "$other"; rm -rf "$work"' EXIT
cat > "$work/program" <<'PROGRAM'
echo "$XAUTHORITY $(stat -c %a "$(dirname "$XAUTHORITY")" "$XAUTHORITY" | tr '\n' ' ')"
xset q >/dev/null 2>&1 && echo "admitted"
XAUTHORITY=/dev/null xset q >/dev/null 2>&1 && echo "admitted without cookie"
[ -z "$OTHER" ] || ! runuser -u "$OTHER" -- xset q >/dev/null 2>&1 || echo "admitted other user"
xclock -title Vandrelle & trap 'kill $!; exit 0' TERM; wait
PROGRAM
chmod +x "$work/program"
env -u DISPLAY -u WAYLAND_DISPLAY OTHER="$other" bash "$(dirname "$0")/../../scripts/run-program.sh" \
  "$work/program" </dev/null >"$work/out" 2>&1
rm -f "$(sed -n 's/^A picture of its window: //p' "$work/out")"
read -r cookie modes < "$work/out"
if [ "$modes" = "700 600" ] && grep -qx admitted "$work/out" && ! grep -q "admitted " "$work/out" &&
  [ ! -e "$(dirname "$cookie")" ]; then
  echo "run-program-test: passed"
else
  echo "FAILED: $(cat "$work/out")"; exit 1
fi
