#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: git-merge-test.sh VANDRELLE_CLI
# Two clones of one repository edit the tree; `git pull` merges it through
# vandrelle-cli as the user guide sets it up: servers both added at the end
# of one group (a conflict for a line merge) merge cleanly, and a field both
# changed is a conflict that keeps ours, names the field and leaves a
# well-formed file.
set -euo pipefail
cli=$(realpath "${1:?usage: git-merge-test.sh VANDRELLE_CLI}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work GIT_AUTHOR_NAME=t GIT_AUTHOR_EMAIL=t@t GIT_COMMITTER_NAME=t GIT_COMMITTER_EMAIL=t@t
fail() { echo "FAILED: $*"; exit 1; }
edit() { (cd "$work/$1" && shift && "$cli" --config Vandrelle.xml "$@" >/dev/null); }
commit() { git -C "$work/$1" commit -qam "$2"; }

git config --global merge.vandrelle.name "Vandrelle tree"
git config --global merge.vandrelle.driver "$cli merge %O %A %B"
git config --global pull.rebase false
git init -q --bare "$work/shared.git"
git clone -q "$work/shared.git" "$work/a" 2>/dev/null
edit a add-group --set Name=Office
edit a add-server Office --set Name=Lab --set Server=lab.example
echo 'Vandrelle.xml merge=vandrelle' > "$work/a/.gitattributes"
git -C "$work/a" add -A && commit a first && git -C "$work/a" push -q origin HEAD:main
git clone -q -b main "$work/shared.git" "$work/b"

edit a add-server Office --set Name=Web --set Server=web.example && commit a web
git -C "$work/a" push -q origin HEAD:main
edit b add-server Office --set Name=Db --set Server=db.example && commit b db
git -C "$work/b" pull -q --no-edit origin main || fail "a clean merge failed"
tree=$(cd "$work/b" && "$cli" --config Vandrelle.xml tree)
[[ $tree == *Db* && $tree == *Web* ]] || fail "both servers merged: $tree"

edit a set Office Lab --set Description=from-a && commit a da
git -C "$work/a" pull -q --no-edit origin main && git -C "$work/a" push -q origin HEAD:main
edit b set Office Lab --set Description=from-b && commit b db2
if out=$(git -C "$work/b" pull --no-edit origin main 2>&1); then fail "a conflict merged silently"; fi
[[ $out == *"Office / Lab: Description changed on both sides"* ]] || fail "the field is named: $out"
desc=$(cd "$work/b" && "$cli" --config Vandrelle.xml show Office Lab | grep Description)
[[ $desc == *from-b* ]] || fail "ours kept in a readable file: $desc"
echo "git merges through vandrelle-cli: passed"
