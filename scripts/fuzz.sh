#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs one.
#   scripts/fuzz.sh                     build them all and list them
#   scripts/fuzz.sh <target> [seconds]  fuzz <target>, growing fuzz/corpus/<target>/
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
CC=clang CXX=clang++ cmake -S "$top" -B "$top/build-fuzz" -G Ninja \
  -DTGX_FUZZ=ON -DTGX_TESTS=OFF -DTGX_BENCH=OFF >/dev/null
cmake --build "$top/build-fuzz" -j "$(nproc)"
if [[ $# -eq 0 ]]; then
  ls "$top/build-fuzz/bin" | grep -E '^fuzz_' || true
  exit 0
fi
target=$1
seconds=${2:-60}
mkdir -p "$top/fuzz/corpus/$target"
"$top/build-fuzz/bin/$target" -max_total_time="$seconds" "$top/fuzz/corpus/$target"
