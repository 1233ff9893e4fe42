#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks, once the dependencies are installed, that scripts/install-deps.sh
# names every Debian package that provides a pkg-config module the build
# needs: those of the CMake files' pkg_check_modules calls and, in turn, every
# module they require (privately too). A package that is only pulled in by
# another on this machine may be missing on a fresh one: freerdp3.pc requires
# zlib, and freerdp3-dev does not bring zlib1g-dev. Also checks that the
# programs the project starts by name are there.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A listed=()
while read -r package; do listed[$package]=1; done < <(bash scripts/install-deps.sh --list)

cmake_files() {
  git ls-files -- CMakeLists.txt '*/CMakeLists.txt' '*.cmake' 2>/dev/null ||
    find . \( -name .git -o -name 'build*' \) -prune -o \( -name CMakeLists.txt -o -name '*.cmake' \) -print
}

# The module names of every pkg_check_modules/pkg_search_module call, without
# the call's prefix, keywords and version bounds.
mapfile -t queue < <(cmake_files | xargs cat | tr '\n' ' ' |
  grep -oE 'pkg_(check_modules|search_module)\([^)]*\)' | sed -E 's/^[^(]*\(//; s/\)$//' |
  awk '{ for (i = 2; i <= NF; i++)
           if ($i !~ /^(REQUIRED|QUIET|IMPORTED_TARGET|GLOBAL|NO_CMAKE_PATH|NO_CMAKE_ENVIRONMENT_PATH)$/) print $i }' |
  sed -E 's/[<>=].*//')
[[ ${#queue[@]} -gt 0 ]] || { echo "check-deps: no pkg-config module found in the CMake files" >&2; exit 1; }

declare -A seen=() neededBy=()
for m in "${queue[@]}"; do neededBy[$m]="the CMake files"; done
problems=0
while [[ ${#queue[@]} -gt 0 ]]; do
  module=${queue[0]}
  queue=("${queue[@]:1}")
  [[ -z ${seen[$module]:-} ]] || continue
  seen[$module]=1
  if ! pc=$(pkg-config --path "$module" 2>/dev/null); then
    echo "check-deps: the pkg-config module $module (needed by ${neededBy[$module]}) is not" \
      "installed: add the Debian package that ships $module.pc to scripts/install-deps.sh" >&2
    problems=1
    continue
  fi
  owner=$(dpkg -S "$pc" 2>/dev/null || dpkg -S "$(readlink -f "$pc")" 2>/dev/null || true)
  package=$(head -n 1 <<< "$owner" | cut -d: -f1 | cut -d, -f1)
  if [[ -z $package ]]; then
    echo "check-deps: $pc (pkg-config module $module, needed by ${neededBy[$module]})" \
      "comes from no Debian package" >&2
    problems=1
  elif [[ -z ${listed[$package]:-} ]]; then
    echo "check-deps: scripts/install-deps.sh does not install $package, which provides the" \
      "pkg-config module $module (needed by ${neededBy[$module]})" >&2
    problems=1
  fi
  while read -r required _; do
    [[ -n $required ]] || continue
    [[ -n ${neededBy[$required]:-} ]] || neededBy[$required]=$module
    queue+=("$required")
  done < <(pkg-config --print-requires --print-requires-private "$module")
done
# Programs started by name: FreeRDP's client ("Connect with the system's RDP
# client", the session benchmark's reference), the end-to-end peers, and what
# runs the program without a display and drives it in its tests.
for program in xfreerdp3 python3 Xvfb xsetroot xclock xclip freerdp-shadow-cli3 winpr-hash3 \
  xrdp xrdp-sesman xdotool import dbus-daemon dbus-run-session; do
  if ! PATH="$PATH:/usr/sbin:/sbin" command -v "$program" >/dev/null; then
    echo "check-deps: $program is not installed although scripts/install-deps.sh ran" >&2
    problems=1
  fi
done

# The accessibility test: the bus's launcher (outside the PATH) and the
# bindings of Debian's own Python, which is not always the python3 found first.
if [[ ! -x /usr/libexec/at-spi-bus-launcher ]]; then
  echo "check-deps: /usr/libexec/at-spi-bus-launcher (at-spi2-core) is not installed" >&2
  problems=1
fi
if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
  echo "check-deps: Debian's python3 cannot import pyatspi (python3-pyatspi)" >&2
  problems=1
fi

[[ $problems -eq 0 ]] && echo "check-deps: the packages of the pkg-config modules ${!seen[*]} are named; the programs are there"
exit $problems
