#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs every Debian package Vandrelle needs to build, run, test and
# benchmark. Idempotent: packages already present are left alone and nothing
# is fetched when nothing is missing.
#   --list             prints the packages, one a line, and installs nothing
#   --suite-to-add     prints the apt source that would be added for Debian 12's
#                      bookworm-backports suite, and installs nothing
# APT_ETC (default /etc/apt) is where the machine's apt sources are read.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  libpugixml-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format
  qt6-base-dev
  # Finding servers folds case and accents, and orders as the tree does.
  libicu-dev
  # The icon's PNG sizes are drawn at build time with Qt's SVG renderer.
  qt6-svg-dev
  # The RDP engine (from bookworm-backports); freerdp3.pc requires zlib's module,
  # which freerdp3-dev does not bring.
  freerdp3-dev libwinpr3-dev zlib1g-dev
  # FreeRDP's own client: "Connect with the system's RDP client", and the
  # reference of the session benchmark (which also needs python3).
  freerdp3-x11 python3
  # Peers for the end-to-end tests: a headless display and FreeRDP's shadow server.
  xvfb x11-xserver-utils freerdp3-shadow-x11 winpr3-utils libx11-dev
  # Which process listens on a peer's port (ss).
  iproute2
  # A link that fails, for the dead-link tests and benchmark: drop rules
  # inside network namespaces of their own.
  nftables
  # The certificate of the test server that beats (made with the openssl tool).
  openssl
  # ... and xrdp, with a session that runs a clock.
  xrdp xorgxrdp x11-apps xclip
  # The program on a machine without a display (make run), and its own
  # end-to-end tests: a window found and keys typed (xdotool), pictures taken
  # (ImageMagick's import); a private message bus for the unlock's test.
  xdotool imagemagick dbus-daemon
  # The virtual display's private cookie (make run).
  xauth
  # The accessibility test reads the program as a screen reader does: the
  # accessibility bus, and Debian's Python bindings to it.
  at-spi2-core python3-pyatspi
  # The Debian package (make package) and the checks of what it installs.
  dpkg-dev lintian desktop-file-utils appstream bash-completion
)

APT_ETC=${APT_ETC:-/etc/apt}

# Every enabled "deb" entry of the machine's apt sources, one a line:
#   URI SUITE SIGNED-BY COMPONENT...
# SIGNED-BY is "-" unless the entry names a key file. Both formats are read:
# deb822 stanzas (*.sources) and one-line entries (sources.list, *.list).
apt_entries() {
  local sources=() lists=()
  shopt -s nullglob
  sources=("$APT_ETC"/sources.list.d/*.sources)
  lists=("$APT_ETC"/sources.list "$APT_ETC"/sources.list.d/*.list)
  shopt -u nullglob
  for f in "${sources[@]}"; do
    awk '
      function reset() { types = uris = suites = comps = signed = ""; enabled = "yes" }
      function flush() {
        if (types ~ /(^|[ \t])deb([ \t]|$)/ && enabled != "no" && uris != "") {
          split(uris, u, /[ \t]+/); n = split(suites, s, /[ \t]+/)
          for (i = 1; i <= n; i++) print u[1], s[i], (signed ~ /^\// ? signed : "-"), comps
        }
        reset()
      }
      BEGIN { reset() }
      /^#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]/ { next }  # a continued value: only inline keys span lines
      {
        key = tolower(substr($0, 1, index($0, ":") - 1))
        value = substr($0, index($0, ":") + 1); gsub(/^[ \t]+|[ \t]+$/, "", value)
        if (key == "types") types = value
        else if (key == "uris") uris = value
        else if (key == "suites") suites = value
        else if (key == "components") comps = value
        else if (key == "signed-by") signed = value
        else if (key == "enabled") enabled = tolower(value)
      }
      END { flush() }' "$f"
  done
  for f in "${lists[@]}"; do
    [[ -r $f ]] || continue
    awk '
      { sub(/#.*/, "") }
      $1 == "deb" {
        options = ""; i = 2
        if ($2 ~ /^\[/) { while (i < NF && $i !~ /\]$/) options = options " " $(i++); options = options " " $(i++) }
        signed = "-"
        if (match(options, /signed-by=[^] \t]+/)) signed = substr(options, RSTART + 10, RLENGTH - 10)
        comps = ""; for (j = i + 2; j <= NF; j++) comps = comps " " $j
        print $i, $(i + 1), signed, comps
      }' "$f"
  done
}

# The first source of Debian's bookworm suite itself (with its main
# component): the machine's own mirror, whichever it is.
bookworm_entry() {
  apt_entries | awk '$2 == "bookworm" { for (i = 4; i <= NF; i++) if ($i == "main") { print; exit } }'
}

# The deb822 stanza for bookworm-backports from the same mirror, signed as the
# suite it sits beside (by Debian's archive keyring unless it names a key).
backports_source() {
  local uri suite signed
  read -r uri suite signed _ < <(bookworm_entry) || true
  if [[ -z ${uri:-} ]]; then
    echo "install-deps: none of the apt sources under $APT_ETC serves Debian's bookworm suite" \
      "(component main), so bookworm-backports cannot be added beside it; add it by hand" >&2
    return 1
  fi
  [[ $signed != - ]] || signed=/usr/share/keyrings/debian-archive-keyring.gpg
  printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: %s\n' \
    "$uri" "$signed"
}

case "${1:-}" in
  --list) printf '%s\n' "${PACKAGES[@]}"; exit 0 ;;
  --suite-to-add) backports_source; exit ;;
  "") ;;
  *) echo "usage: install-deps.sh [--list | --suite-to-add]" >&2; exit 2 ;;
esac

if [ "$(id -u)" -eq 0 ]; then SUDO=(); else SUDO=(sudo); fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

need_backports=0
. /etc/os-release
if [ "${VERSION_CODENAME:-}" = "bookworm" ] &&
   ! apt_entries | awk '$2 == "bookworm-backports" { found = 1 } END { exit !found }'; then
  need_backports=1
fi

if [ "${#missing[@]}" -eq 0 ] && [ "$need_backports" -eq 0 ]; then
  exit 0
fi
# Package names are only checked after the suite list is known.

if [ "$need_backports" -eq 1 ]; then
  # The graphical client's RDP engine (FreeRDP 3) is only packaged there.
  source_text=$(backports_source)
  echo "install-deps: adding the bookworm-backports suite" >&2
  printf '%s\n' "$source_text" | "${SUDO[@]}" tee "$APT_ETC/sources.list.d/bookworm-backports.sources" >/dev/null
fi

echo "install-deps: installing ${missing[*]:-(suite list only)}" >&2
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
if [ "${#missing[@]}" -gt 0 ]; then
  "${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
