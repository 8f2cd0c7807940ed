#!/usr/bin/env bash
# Fails on any C++ file of ours that clang-format (with the root .clang-format)
# would change. To mend: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' | while read -r f; do [ -f "$f" ] && echo "$f"; done)
if ! clang-format --dry-run -Werror "${files[@]}"; then
  echo "check-format: the files above are out of format (clang-format -i FILE to mend)" >&2
  exit 1
fi
