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
checks=0 failures=0

fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
check() { checks=$((checks + 1)); }

# Runs the script on the sources written into a fresh apt folder: $1 is the
# file's name, standard input its text; prints what the script printed.
suite_for() {
  rm -rf "$work/apt"; mkdir -p "$work/apt/sources.list.d"
  cat > "$work/apt/$1"
  APT_ETC="$work/apt" bash "$script" --suite-to-add 2>&1
}

expect_line() {  # output, line, case
  check
  grep -qxF -- "$2" <<< "$1" || fail "$3: no line '$2' in:"$'\n'"$1"
}

out=$(suite_for sources.list <<'SRC'
# deb http://commented.example/debian bookworm main
deb [arch=amd64 signed-by=/etc/apt/keyrings/other.gpg] https://other.example/linux/debian bookworm stable
deb http://security.example/debian-security bookworm-security main
deb [ signed-by=/usr/share/keyrings/mirror.gpg ] http://mirror.example/debian bookworm main contrib
SRC
)
expect_line "$out" "URIs: http://mirror.example/debian" "one-line entries"
expect_line "$out" "Suites: bookworm-backports" "one-line entries"
expect_line "$out" "Signed-By: /usr/share/keyrings/mirror.gpg" "one-line entries"

out=$(suite_for sources.list.d/debian.sources <<'SRC'
Types: deb
URIs: http://disabled.example/debian
Suites: bookworm
Components: main
Enabled: no

Types: deb
URIs: http://updates.example/debian
Suites: bookworm-updates
Components: main

Types: deb-src deb
URIs: http://mirror2.example/debian http://second.example/debian
Suites: bookworm-updates bookworm
Components: contrib main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 mQINBGPL0BUBEADmW5NdOOHwPIJlgPu6JDcKw/NZJPR8lsD3K87ZM18gzyQZJD+w
 -----END PGP PUBLIC KEY BLOCK-----
SRC
)
expect_line "$out" "URIs: http://mirror2.example/debian" "deb822 stanzas"
expect_line "$out" "Components: main" "deb822 stanzas"
# An inline key cannot be named by path: Debian's archive keyring signs the suite.
expect_line "$out" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" "deb822 stanzas"

out=$(suite_for sources.list <<'SRC'
deb http://security.example/debian-security bookworm-security main
SRC
)
status=$?
check
[[ $status -ne 0 ]] || fail "no bookworm source: the script succeeded with:"$'\n'"$out"
check
grep -q "bookworm suite" <<< "$out" || fail "no bookworm source: no reason given:"$'\n'"$out"

check
! grep -nE '[a-z]+://' "$script" || fail "install-deps.sh names a server"

echo "$((checks - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
