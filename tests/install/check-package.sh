#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package as a user gets it: its control data (version, library
# dependencies found in the binaries, the listed QML module packages), whether
# apt can satisfy its dependencies, and its contents unpacked into a clean
# folder: the installation checks of check-install.sh, the installed
# simulator (and command-line tool, once there is one) answering --version,
# and the installed application showing its window under Xvfb.
#   check-package.sh <package.deb> [folder for the unpacked tree and screenshot]
set -euo pipefail
deb=$(realpath "$1")
work=${2:-$(mktemp -d)}
mkdir -p "$work"
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

package=$(dpkg-deb -f "$deb" Package)
version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
[ "$(basename "$deb")" = "${package}_${version}_$(dpkg --print-architecture).deb" ] \
  || fail "$(basename "$deb") is not named package_version_architecture.deb"
grep -q "libqt5core5a" <<<"$depends" || fail "no Qt library among the dependencies: were they read from the binaries?"
for qml_package in $(grep -E '^[a-z0-9]' "$source_dir/dist/qml-runtime-packages"); do
  grep -qE "(^|, )$qml_package(,|$)" <<<"$depends" || fail "the package does not depend on $qml_package"
done
if command -v apt-get >/dev/null; then
  apt-get install --simulate -qq "$deb" >"$work/apt-simulate.txt" 2>&1 \
    || fail "apt cannot satisfy the package's dependencies: $(cat "$work/apt-simulate.txt")"
fi

root=$work/root
rm -rf "$root"
mkdir -p "$root"
dpkg-deb -x "$deb" "$root"
id=$(basename "$(ls "$root"/usr/share/applications/*.desktop)" .desktop)
sizes=$(sed -n 's/^set(icon_sizes \(.*\))$/\1/p' "$source_dir/dist/CMakeLists.txt")
programs=()
for binary in "$root"/usr/bin/*; do
  programs+=("$(basename "$binary")")
done
"$here/check-install.sh" "$root/usr" "$version" "$id" "$package" "$sizes" "${programs[@]}" \
  || fail "the unpacked package fails the installation checks"

if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1280x1024x24" "$here/show-window.sh" "$root/usr/bin/velmar-imu" "$work/screenshot.png" \
    || fail "the installed velmar-imu did not show its window"
else
  "$here/show-window.sh" "$root/usr/bin/velmar-imu" "$work/screenshot.png" \
    || fail "the installed velmar-imu did not show its window"
fi

[ "$status" -eq 0 ] && echo "$(basename "$deb"): ok (unpacked in $root)"
exit "$status"
