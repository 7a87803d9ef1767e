#!/usr/bin/env bash
# Configures and builds into build/ (or build-asan/ with --sanitize).
#   scripts/build.sh [--sanitize] [--release] [extra cmake -D options]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=build
opts=()
for arg in "$@"; do
  case "$arg" in
    --sanitize) dir=build-asan; opts+=(-DTGX_SANITIZE=ON -DTGX_BENCH=OFF) ;;
    --release) opts+=(-DCMAKE_BUILD_TYPE=Release) ;;
    *) opts+=("$arg") ;;
  esac
done
cmake -S "$top" -B "$top/$dir" -G Ninja "${opts[@]}" >/dev/null
cmake --build "$top/$dir" -j "$(nproc)"
