#!/usr/bin/env bash
# Checks that every C++ file follows .clang-format; --fix rewrites them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
mapfile -t files < <(git ls-files -- '*.cpp' '*.h' | grep -v '^fuzz/corpus/')
if [[ "${1:-}" == "--fix" ]]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run --Werror "${files[@]}"
fi
