#!/usr/bin/env bash
# Fails, naming the places, when any C++ source of the project differs from
# what clang-format 14 makes of it with the committed .clang-format. With
# --fix it rewrites them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

format=clang-format-14
command -v "$format" >/dev/null || format=clang-format
"$format" --version | grep -q "version 14\." ||
  { echo "check-format.sh: needs clang-format 14 (scripts/install-deps.sh format)" >&2; exit 2; }

mapfile -t sources < <(git ls-files '*.h' '*.cpp')
if [ "${1:-}" = "--fix" ]; then
  "$format" -i --style=file "${sources[@]}"
  exit 0
fi
# One call: clang-format names each place it would change, and fails.
"$format" --dry-run -Werror --style=file "${sources[@]}" ||
  { echo "check-format.sh: not formatted (run scripts/check-format.sh --fix)" >&2; exit 1; }
echo "check-format.sh: ${#sources[@]} files formatted"
