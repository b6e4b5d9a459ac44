#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a tracked C++ source differs from .clang-format, naming each file.
# `scripts/check-format.sh --fix` formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=0
for f in "${files[@]}"; do
  if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "check-format: $f differs from .clang-format (scripts/check-format.sh --fix)"
    bad=1
  fi
done
[ "$bad" -eq 0 ] && echo "check-format: ${#files[@]} files formatted"
exit "$bad"
