#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The package's hand-written list of QML module packages against the documents:
# every module a document imports (and every module it depends on) must come
# from a listed package, and every listed package must provide one of them.
#   check-qml-packages.sh <QML documents folder> <package list> <Qt's QML folder>
set -euo pipefail
documents=$1
list=$2
qml_root=$3
command -v dpkg >/dev/null || {
  echo "SKIP: not a Debian system" >&2
  exit 77
}
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

listed=$(grep -E '^[a-z0-9]' "$list" | sort -u)
# Our own types, registered by the program itself, and the engine's built-in
# module, which comes with the library the program links.
own='^(CustomPlot|com\.duruza\.registryModel|QtQml)$'

# The qmldir of "A.B.C" with major version M, searched the way the QML engine
# does: the version on the last part first, then further up, then none.
find_qmldir() {
  local module=$1 major=$2
  IFS=. read -r -a parts <<<"$module"
  local n=${#parts[@]} i j path
  for ((i = n - 1; i >= 0; i--)); do
    path=$qml_root
    for ((j = 0; j < n; j++)); do
      path+=/${parts[$j]}
      [ "$j" -eq "$i" ] && path+=.$major
    done
    [ -f "$path/qmldir" ] && { echo "$path/qmldir"; return; }
  done
  path=$qml_root/${module//.//}
  if [ -f "$path/qmldir" ]; then echo "$path/qmldir"; fi
}

declare -A seen
# The pages and the parts they share, in the folders below them.
pending=$(find "$documents" -name '*.qml' -exec sed -n 's/^import \([A-Za-z][A-Za-z0-9.]*\) \([0-9]*\)\..*/\1 \2/p' {} + | sort -u)
needed=""
while [ -n "$pending" ]; do
  read -r module major <<<"$(head -n1 <<<"$pending")"
  pending=$(tail -n +2 <<<"$pending")
  [ -n "${seen[$module]:-}" ] && continue
  seen[$module]=1
  [[ $module =~ $own ]] && continue
  qmldir=$(find_qmldir "$module" "$major")
  if [ -z "$qmldir" ]; then
    fail "no qmldir for $module $major under $qml_root"
    continue
  fi
  owner=$(dpkg -S "$qmldir" | cut -d: -f1)
  needed+="$owner"$'\n'
  grep -qx "$owner" <<<"$listed" || fail "$module comes from $owner, which $list does not list"
  deps=$(sed -n 's/^depends \([A-Za-z][A-Za-z0-9.]*\) \([0-9]*\)\..*/\1 \2/p' "$qmldir")
  [ -n "$deps" ] && pending+=$'\n'"$deps"
  pending=$(sed '/^$/d' <<<"$pending")
done

for package in $listed; do
  grep -qx "$package" <<<"$needed" || fail "$list lists $package, which no document needs"
done
[ "$status" -eq 0 ] && echo "${#seen[@]} modules imported, all from the $(echo $listed | wc -w) listed packages"
exit "$status"
