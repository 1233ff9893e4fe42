#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The virtual display of `make run` on a machine without one admits only the
# holder of its cookie: a client without it, or another local user (as root,
# with a user this test adds and removes), is refused, and the cookie's
# private folder is gone at the end. The program is a stand-in that reports
# what it finds and shows a window of the program's title.
set -uo pipefail
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/run-program.sh"
work=$(mktemp -d)
other=
cleanup() {
  [ -z "$other" ] || userdel "$other" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

if [ "$(id -u)" = 0 ]; then
  other="vdl-rp-$$"
  useradd --system --no-create-home "$other" || other=
fi
[ -n "$other" ] || echo "run-program-test: not root, so no second user: its check is skipped"

cat > "$work/program" <<'PROGRAM'
#!/usr/bin/env bash
report=$REPORT
echo "cookie $XAUTHORITY" > "$report"
echo "modes $(stat -c %a "$(dirname "$XAUTHORITY")") $(stat -c %a "$XAUTHORITY")" >> "$report"
xset q >/dev/null 2>&1 && echo "holder admitted" >> "$report"
XAUTHORITY=/dev/null xset q >/dev/null 2>&1 && echo "no cookie admitted" >> "$report"
if [ -n "$OTHER" ] && runuser -u "$OTHER" -- env XAUTHORITY="$XAUTHORITY" xset q >/dev/null 2>&1; then
  echo "other user admitted" >> "$report"
fi
xclock -title Vandrelle &
trap 'kill $!; exit 0' TERM
wait
PROGRAM
chmod 755 "$work/program"

env -u DISPLAY -u WAYLAND_DISPLAY REPORT="$work/report" OTHER="$other" \
  bash "$script" "$work/program" </dev/null >"$work/out" 2>&1 ||
  fail "run-program ended with $?: $(cat "$work/out")"
rm -f "$(sed -n 's/^A picture of its window: //p' "$work/out")"
report=$(cat "$work/report" 2>/dev/null)
cookie=$(sed -n 's/^cookie //p' <<< "$report")
grep -qx "modes 700 600" <<< "$report" || fail "the cookie is not private: $report"
grep -qx "holder admitted" <<< "$report" || fail "the program was refused: $report"
! grep -q "no cookie admitted" <<< "$report" || fail "a client without the cookie was admitted"
! grep -q "other user admitted" <<< "$report" || fail "another user was admitted"
[ -n "$cookie" ] && [ ! -e "$(dirname "$cookie")" ] || fail "the cookie's folder was left: $cookie"
[ "$failures" = 0 ] && echo "run-program-test: passed"
exit "$((failures > 0))"
