#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What an installation holds, checked in an installed tree: the programs
# answering --version with the project's version, a manual page for each, the
# desktop entry and metainfo passing Debian's validators and pointing at what
# is really installed, the icon at every hicolor size, and the licence.
#   check-install.sh <installed prefix> <version> <desktop id> <package name> "<icon sizes>" <program>...
# scripts/package.sh runs it on the package's contents, CTest on a
# `cmake --install` of the build.
set -euo pipefail
prefix=$1
version=$2
id=$3
package=$4
sizes=$5
shift 5
programs=("$@")
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}
need() {
  command -v "$1" >/dev/null || {
    echo "SKIP: $1 is missing (scripts/install-deps.sh installs it)" >&2
    exit 77
  }
}
need desktop-file-validate
need appstreamcli
need file

headless=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
for program in "${programs[@]}"; do
  binary=$prefix/bin/$program
  if [ ! -x "$binary" ]; then
    fail "$binary is not installed"
    continue
  fi
  printed=$("${headless[@]}" "$binary" --version) || fail "$program --version failed"
  [ "$printed" = "$program $version" ] || fail "$program --version prints '$printed', expected '$program $version'"
  echo "installed $program --version: $printed"
  [ -f "$prefix/share/man/man1/$program.1.gz" ] || fail "no manual page for $program"
done
# Nothing installed into bin/ that is not one of ours (test or bench programs, say).
for binary in "$prefix"/bin/*; do
  [[ " ${programs[*]} " == *" $(basename "$binary") "* ]] || fail "unexpected program $binary"
done

desktop=$prefix/share/applications/$id.desktop
if [ -f "$desktop" ]; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
  exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -x "$prefix/bin/$exec_program" ] || fail "the desktop entry starts '$exec_program', which is not installed"
  grep -qx "Icon=$id" "$desktop" || fail "the desktop entry's icon is not $id"
else
  fail "$desktop is not installed"
fi

for size in $sizes; do
  icon=$prefix/share/icons/hicolor/${size}x$size/apps/$id.png
  if [ -f "$icon" ]; then
    grep -q "^PNG image data, $size x $size," <<<"$(file -b "$icon")" || fail "$icon is $(file -b "$icon")"
  else
    fail "$icon is not installed"
  fi
done

metainfo=$prefix/share/metainfo/$id.metainfo.xml
if [ -f "$metainfo" ]; then
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects $metainfo"
  grep -q "<id>$id</id>" "$metainfo" || fail "the metainfo's id is not $id"
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" \
    || fail "the metainfo does not launch $id.desktop"
  grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"
  grep -q '<screenshot type="default">' "$metainfo" || fail "the metainfo has no default screenshot"
  listed=$(sed -n 's:.*<binary>\(.*\)</binary>.*:\1:p' "$metainfo" | sort | tr '\n' ' ')
  installed=$(printf '%s\n' "${programs[@]}" | sort | tr '\n' ' ')
  [ "$listed" = "$installed" ] || fail "the metainfo provides '$listed', installed are '$installed'"
else
  fail "$metainfo is not installed"
fi

copyright=$prefix/share/doc/$package/copyright
if [ -f "$copyright" ]; then
  for licence in GPL-3+ OFL-1.1; do
    grep -q "^License: $licence\$" "$copyright" || fail "$copyright lacks the $licence text"
  done
else
  fail "$copyright is not installed"
fi

[ "$status" -eq 0 ] && echo "installation in $prefix: ${programs[*]}, desktop entry, metainfo, $(echo $sizes | wc -w) icon sizes, licence: ok"
exit "$status"
