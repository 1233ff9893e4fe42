#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs every Debian package Vandrelle needs to build, run and test.
# Idempotent: packages already present are left alone and nothing is
# fetched when nothing is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  libpugixml-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format
  qt6-base-dev
  # The icon's PNG sizes are drawn at build time with Qt's SVG renderer.
  qt6-svg-dev
  # The RDP engine (from bookworm-backports).
  freerdp3-dev libwinpr3-dev
  # Peers for the end-to-end tests: a headless display and FreeRDP's shadow server.
  xvfb x11-xserver-utils freerdp3-shadow-x11 winpr3-utils libx11-dev
  # ... and xrdp, with a session that runs a clock.
  xrdp xorgxrdp x11-apps xclip
  # The Debian package (make package) and the checks of what it installs.
  dpkg-dev lintian desktop-file-utils appstream bash-completion
)

if [ "$(id -u)" -eq 0 ]; then SUDO=(); else SUDO=(sudo); fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

need_backports=0
if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  . /etc/os-release
  if [ "${VERSION_CODENAME:-}" = "bookworm" ]; then need_backports=1; fi
fi

if [ "${#missing[@]}" -eq 0 ] && [ "$need_backports" -eq 0 ]; then
  exit 0
fi
# Package names are only checked after the suite list is known.

if [ "$need_backports" -eq 1 ]; then
  # The graphical client's RDP engine (FreeRDP 3) is only packaged there.
  echo "install-deps: adding the bookworm-backports suite" >&2
  printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    | "${SUDO[@]}" tee /etc/apt/sources.list.d/bookworm-backports.sources >/dev/null
fi

echo "install-deps: installing ${missing[*]:-(suite list only)}" >&2
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
if [ "${#missing[@]}" -gt 0 ]; then
  "${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
