#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs one.
#   scripts/fuzz.sh                        build them all and list them
#   scripts/fuzz.sh <target> [seconds]     fuzz <target>: starts from the kept corpus
#                                          fuzz/corpus/<target>/ (read only) and writes what
#                                          it finds into build-fuzz/corpus/<target>/
#   scripts/fuzz.sh --merge <target>       minimise build-fuzz/corpus/<target>/ into the kept
#                                          corpus: only inputs that add coverage are copied in
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
merge=0
if [[ ${1:-} == --merge ]]; then
  merge=1
  shift
  [[ $# -eq 1 ]] || { echo "fuzz.sh: --merge takes one target" >&2; exit 2; }
fi
CC=clang CXX=clang++ cmake -S "$top" -B "$top/build-fuzz" -G Ninja \
  -DTGX_FUZZ=ON -DTGX_TESTS=OFF -DTGX_BENCH=OFF >/dev/null
cmake --build "$top/build-fuzz" -j "$(nproc)"
if [[ $# -eq 0 ]]; then
  ls "$top/build-fuzz/bin" | grep -E '^fuzz_' || true
  exit 0
fi
target=$1
kept="$top/fuzz/corpus/$target"
found="$top/build-fuzz/corpus/$target"
[[ -x "$top/build-fuzz/bin/$target" ]] || { echo "fuzz.sh: no fuzz target $target" >&2; exit 2; }
mkdir -p "$found"
if [[ $merge -eq 1 ]]; then
  mkdir -p "$kept"
  # With -merge=1 libFuzzer adds to the first folder only what the others add in coverage.
  "$top/build-fuzz/bin/$target" -merge=1 "$kept" "$found"
  exit 0
fi
seconds=${2:-60}
# The first folder receives new inputs; the kept corpus only seeds the run.
dirs=("$found")
[[ -d "$kept" ]] && dirs+=("$kept")
"$top/build-fuzz/bin/$target" -max_total_time="$seconds" "${dirs[@]}"
