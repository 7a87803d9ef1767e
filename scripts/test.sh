#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. The one command for CI.
#   scripts/test.sh               the normal build in build/
#   scripts/test.sh --sanitize    address and undefined-behaviour sanitizers, in build-asan/
#   scripts/test.sh -L <label>    only the tests of one folder (platform, sim, ...)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_args=()
ctest_args=()
dir=build
while [[ $# -gt 0 ]]; do
  case "$1" in
    --sanitize) build_args+=(--sanitize); dir=build-asan ;;
    -L|-R|-E|-LE) ctest_args+=("$1" "$2"); shift ;;
    -h|--help) sed -n '2,6p' "$0"; exit 0 ;;
    *) echo "test.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" "${build_args[@]}"
"$top/scripts/fetch-xml-suite.sh" "$top/$dir" || echo "test.sh: XML conformance suite not fetched" >&2
if [[ " ${build_args[*]} " == *" --sanitize "* ]]; then
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
cd "$top/$dir"
ctest --output-on-failure --timeout 300 -j "$(( $(nproc) * 2 ))" "${ctest_args[@]}"
