#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A program's manual page against the program itself: every option that --help
# lists is described, every long option the page names still exists, and the
# page's version is the one --version prints. --help and --version run without
# a display, as they must over ssh or in a package build.
#   check-manpage.sh <program> <manual page, .1 or .1.gz> <project version>
set -euo pipefail
program=$1
page=$2
version=$3
name=$(basename "$program")
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

headless=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
help=$("${headless[@]}" "$program" --help)
printed_version=$("${headless[@]}" "$program" --version)
[ "$printed_version" = "$name $version" ] \
  || fail "$name --version prints '$printed_version', expected '$name $version'"

# The page's source with troff's escaped minus signs made plain.
source=$(zcat -f "$page" | sed 's/\\-/-/g')

# Options in --help: the first column of the lines that start with a dash.
option_column=$(printf '%s\n' "$help" | sed -n 's/^ *\(-[^ ].*\)$/\1/p' | sed 's/   *.*$//')
help_long=$(printf '%s\n' "$option_column" | grep -o -- '--[a-z0-9][a-z0-9-]*' | sort -u)
help_short=$(printf '%s\n' "$option_column" | grep -oE -- '(^|[ ,])-[a-zA-Z?]([ ,]|$)' | tr -d ' ,' | sort -u)
page_long=$(printf '%s\n' "$source" | grep -o -- '--[a-z0-9][a-z0-9-]*' | sort -u)

[ -n "$help_long" ] || fail "$name --help lists no options"
for option in $help_long; do
  grep -qx -- "$option" <<<"$page_long" || fail "$page does not describe $option"
done
for option in $help_short; do
  grep -qE -- "(^|[ \"])$option([ \",]|$)" <<<"$source" || fail "$page does not describe $option"
done
for option in $page_long; do
  grep -qx -- "$option" <<<"$help_long" || fail "$page describes $option, which $name does not have"
done

grep -q "^\.TH .*\"$name $version\"" <<<"$source" \
  || fail "$page's .TH line does not carry '$name $version'"
name_line=$(grep -A1 '^\.SH NAME' <<<"$source" | tail -n1)
[[ $name_line == "$name -"* ]] \
  || fail "$page's NAME section does not start with $name"
warnings=$(zcat -f "$page" | groff -man -Tutf8 -ww -z 2>&1) || true
[ -z "$warnings" ] || fail "groff warns about $page: $warnings"

[ "$status" -eq 0 ] && echo "$name: $(echo $help_long $help_short | wc -w) options, all in $(basename "$page")"
exit "$status"
