#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the plain suite,
# the same suite under AddressSanitizer and UndefinedBehaviorSanitizer
# (any report fails it), and a short run of each fuzz target.
#   tools/test.sh            everything
#   tools/test.sh --plain    the plain suite only
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
cd "$top"

tools/install-deps.sh test
export QT_QPA_PLATFORM=offscreen

echo "== plain build and tests"
cmake --preset default >/dev/null
cmake --build --preset default -j"$jobs"
ctest --preset default -j"$jobs"
[ "${1:-}" = "--plain" ] && exit 0

echo "== sanitized build and tests"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$jobs"
ctest --preset sanitize -j"$jobs"

echo "== fuzzing, ${ORVIK_FUZZ_SECONDS:-30} s a target"
tools/fuzz.sh "${ORVIK_FUZZ_SECONDS:-30}"
