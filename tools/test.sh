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
count() { ctest --preset "$1" -N | sed -n 's/^Total Tests: //p'; }
plain=$(count default)

echo "== package"
rm -f build/orvik-control_*.deb
(cd build && cpack -G DEB >/dev/null)
# Any error or warning fails; lintian's note about running as root does not.
report=$(lintian build/orvik-control_*.deb 2>&1 | grep -E '^(E|W):' || true)
[ -z "$report" ] || { echo "$report"; echo "lintian: the package has errors or warnings" >&2; exit 1; }
echo "lintian: no errors or warnings"
plain=$((plain + 1))

if [ "${1:-}" = "--plain" ]; then
  echo "all: $plain passed, 0 failed"
  exit 0
fi

echo "== sanitized build and tests"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$jobs"
ctest --preset sanitize -j"$jobs"

echo "== fuzzing, ${ORVIK_FUZZ_SECONDS:-30} s a target"
tools/fuzz.sh "${ORVIK_FUZZ_SECONDS:-30}"

# Every stage above stops the script on a failure; reaching here means all passed.
echo "all: $((plain + $(count sanitize) + 3)) passed, 0 failed"
