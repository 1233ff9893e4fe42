#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the Debian package of a build:
#   check-package.sh build|contents|install BUILD_DIR SCRATCH VERSION
# build:    makes the package with CPack into SCRATCH and unpacks it there;
# contents: what it installs is there and valid, and its programs run;
# install:  as root, it installs and removes cleanly (exit 77: skipped).
set -euo pipefail
step=$1 build=$2 scratch=$3 version=$4
root=$scratch/root
fail() { echo "FAIL: $*" >&2; exit 1; }

build_package() {
  rm -rf "$scratch" && mkdir -p "$scratch"
  "${CPACK:-cpack}" --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" ||
    { cat "$scratch/cpack.log"; fail "cpack"; }
  dpkg-deb -x "$scratch"/vandrelle_*.deb "$root"
}

# The scratch user's folders, so that nothing of the real user's is read or written.
user_environment() {
  mkdir -p "$scratch/home/xdg" "$scratch/home/run"
  chmod 700 "$scratch/home/run"
  export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/xdg XDG_RUNTIME_DIR=$scratch/home/run
}

check_files() {
  local share=$root/usr/share id=org.vandrelle.Vandrelle f
  # What no check below finds missing: lintian wants the man pages, the
  # copyright and the changelog, and each icon's size to match its folder.
  for f in lib/"$(dpkg-architecture -qDEB_HOST_MULTIARCH)"/vandrelle/vandrelle-engine.so \
      share/icons/hicolor/scalable/apps/$id.svg \
      share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/$id.png; do
    [ -f "$root/usr/$f" ] || fail "the package lacks /usr/$f"
  done
  grep -qx "Icon=$id" "$share/applications/$id.desktop" || fail "the desktop entry names another icon"
  desktop-file-validate "$share/applications/$id.desktop"
  appstreamcli validate --no-net "$share/metainfo/$id.metainfo.xml"
  grep -q "<release version=\"$version\"" "$share/metainfo/$id.metainfo.xml" ||
    fail "the metainfo lacks the release $version"
}

# The package's dependencies name the packages of the Qt plugins the program
# loads without linking them: without them it has no window or no icons.
check_package() {
  local deb=("$scratch"/vandrelle_*.deb) depends plugin owner
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
  depends=$(dpkg-deb -f "$deb" Depends)
  for plugin in platforms/libqxcb.so iconengines/libqsvgicon.so imageformats/libqsvg.so; do
    owner=$(dpkg -S "*/qt6/plugins/$plugin" | cut -d: -f1) || fail "no package here holds $plugin"
    [[ ", $depends," == *", $owner"[\ ,]* ]] || fail "no dependency on $owner, which holds $plugin"
  done
  lintian --fail-on error,warning "$deb"
}

# The program starts from the unpacked package, shows its window (on the
# offscreen platform), and ends as after a close when told to: its window
# placement is then stored.
check_program() {
  local keys=$XDG_CONFIG_HOME/vandrelle/registry.reg code=0
  QT_QPA_PLATFORM=offscreen "$root/usr/bin/vandrelle" & local pid=$!
  for _ in $(seq 100); do [ -s "$keys" ] && break; sleep 0.1; done
  sleep 2  # the key is stored at start-up, before the window is shown
  kill -0 "$pid" 2>/dev/null || fail "the program ended at start-up"
  kill -TERM "$pid" && wait "$pid" || code=$?
  [ "$code" -eq 0 ] || fail "the program ended with $code"
  grep -q '"WindowPos"=' "$keys" || fail "the program stored no window placement"
}

# The completion offers commands, the fields of --set (all the fields `show`
# prints) and the names of the nodes at the path typed so far.
check_completion() {
  local cli=$root/usr/bin/vandrelle-cli config=$scratch/complete.xml
  [ "$("$cli" --version)" = "vandrelle-cli $version" ] || fail "vandrelle-cli --version"
  "$cli" --config "$config" add-group --set Name=Web
  "$cli" --config "$config" add-server Web --set "Name=db 1"
  "$cli" --config "$config" add-server --set Name=Lab
  local fields=$("$cli" --config "$config" show | cut -d= -f1 | sort | paste -sd' ')
  CLI=$cli CONFIG=$config FIELDS=$fields bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$0"
    offered() {  # the completions of a line that ends at the cursor
      COMP_LINE="$CLI --config $CONFIG $1" COMP_POINT=${#COMP_LINE}
      read -r -a COMP_WORDS <<<"$COMP_LINE"
      [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMPREPLY=()
      _vandrelle_cli 2>/dev/null
      printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd" "
    }
    expect() { [ "$(offered "$1")" = "$2" ] || { echo "FAIL: \"$1\" offers \"$(offered "$1")\"" >&2; exit 1; }; }
    expect "ext" "external-command"
    expect "show " "Lab Web"
    expect "show Web " "db 1"
    expect "move Web --to L" "Lab"
    expect "set Lab --set Password=" "Password=-"
    expect "set Lab --set " "$(printf "%s=\n" $FIELDS | sort | paste -sd" ")"
  ' "$root/usr/share/bash-completion/completions/vandrelle-cli"
}

# dpkg, waiting while another one (an apt run) holds the lock.
dpkg_waiting() {
  for _ in $(seq 60); do
    dpkg "$@" >"$scratch/dpkg.log" 2>&1 && return 0
    grep -q "lock" "$scratch/dpkg.log" || break
    sleep 2
  done
  cat "$scratch/dpkg.log" && fail "dpkg $*"
}

# As root: dpkg installs the package (its dependencies met), the installed
# companion keeps its file in the user's folder (not in /usr/bin, which root
# could write), and dpkg removes it again. (The package has no maintainer
# scripts or configuration files: what dpkg -r leaves is dpkg's own affair.)
check_install() {
  [ "$(id -u)" -eq 0 ] || { echo "not root: the install check is skipped"; exit 77; }
  ! dpkg-query -W -f='${Status}' vandrelle 2>/dev/null | grep -q "ok installed" ||
    { echo "a vandrelle package is installed here already; it is left alone"; exit 77; }
  [ ! -e /usr/bin/Vandrelle.xml ] || { echo "/usr/bin/Vandrelle.xml exists here; the companion would use it: skipped"; exit 77; }
  trap 'dpkg -r vandrelle >/dev/null 2>&1 || true' EXIT
  dpkg_waiting -i "$scratch"/vandrelle_*.deb
  [ "$(/usr/bin/vandrelle-cli --version)" = "vandrelle-cli $version" ] || fail "the installed --version"
  /usr/bin/vandrelle-cli add-group --set Name=G
  [ -f "$XDG_CONFIG_HOME/vandrelle/Vandrelle.xml" ] || fail "the installed companion saved elsewhere"
  [ ! -e /usr/bin/Vandrelle.xml ] || { rm -f /usr/bin/Vandrelle.xml; fail "the installed companion saved in /usr/bin"; }
  dpkg_waiting -r vandrelle && trap - EXIT
}

case $step in
  build) build_package ;;
  contents) user_environment; check_files; check_package; check_program; check_completion ;;
  install) user_environment; check_install ;;
  *) fail "unknown step $step" ;;
esac
