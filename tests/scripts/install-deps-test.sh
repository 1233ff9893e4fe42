#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The apt source that scripts/install-deps.sh adds for bookworm-backports is
# taken from the machine's own source of Debian's bookworm suite (a mirror
# included), in either format of apt's source files, and the script names no
# server itself.
set -uo pipefail
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/install-deps.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# Runs the script on sources written into a fresh apt folder (file $1, text on
# standard input) and expects each further argument as a line of its output.
expect() {
  local file=$1 line; shift
  rm -rf "$work/apt"; mkdir -p "$work/apt/sources.list.d"
  cat > "$work/apt/$file"
  out=$(APT_ETC="$work/apt" bash "$script" --suite-to-add 2>&1) status=$?
  for line in "$@"; do grep -qxF -- "$line" <<< "$out" || fail "$file: no line '$line' in:"$'\n'"$out"; done
}

expect sources.list "URIs: http://mirror.example/debian" "Suites: bookworm-backports" \
  "Signed-By: /usr/share/keyrings/mirror.gpg" <<'SRC'
# deb http://commented.example/debian bookworm main
deb [arch=amd64 signed-by=/etc/apt/keyrings/other.gpg] https://other.example/linux/debian bookworm stable
deb http://security.example/debian-security bookworm-security main
deb [ signed-by=/usr/share/keyrings/mirror.gpg ] http://mirror.example/debian bookworm main contrib
SRC

# An inline key cannot be named by path: Debian's archive keyring signs the suite.
expect sources.list.d/debian.sources "URIs: http://mirror2.example/debian" "Components: main" \
  "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" <<'SRC'
Types: deb
URIs: http://disabled.example/debian
Suites: bookworm
Components: main
Enabled: no

Types: deb-src deb
URIs: http://mirror2.example/debian http://second.example/debian
Suites: bookworm-updates bookworm
Components: contrib main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 mQINBGPL0BUBEADmW5NdOOHwPIJlgPu6JDcKw/NZJPR8lsD3K87ZM18gzyQZJD+w
 -----END PGP PUBLIC KEY BLOCK-----
SRC

expect sources.list <<< "deb http://security.example/debian-security bookworm-security main"
[[ $status -ne 0 ]] && grep -q "bookworm suite" <<< "$out" ||
  fail "no bookworm source: the script did not stop with the reason:"$'\n'"$out"
! grep -nE '[a-z]+://' "$script" || fail "install-deps.sh names a server"

[[ $failures -eq 0 ]] && echo "install-deps-test: passed"
