#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the format, the
# plain suite, the clock test on the QTimer clock, the panel through the
# Orca screen reader, the package, the same
# suite under AddressSanitizer and UndefinedBehaviorSanitizer (any report
# fails it), a short run of each fuzz target, and the Windows build under
# Wine (the first run builds Qt for Windows, about half an hour).
#   tools/test.sh            everything
#   tools/test.sh --plain    the plain suite only
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
cd "$top"

tools/install-deps.sh test
export QT_QPA_PLATFORM=offscreen

echo "== the npm pjlink client, as its lockfile pins it"
(cd tests/pjlink-client && npm ci --no-audit --no-fund --loglevel=error)

echo "== format"
# Every source file of the tree, without git: a tree unpacked from a tarball
# is checked the same way. Build folders and fetched packages are not ours.
unformatted=$(find . \( -name 'build*' -o -name .git -o -name node_modules \) -prune -o \
  -type f \( -name '*.cpp' -o -name '*.h' \) -print | sort | while read -r f; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || echo "$f"; done)
if [ -n "$unformatted" ]; then
  echo "$unformatted"
  echo "clang-format would change these files: run clang-format -i on them" >&2
  exit 1
fi
echo "clang-format: every file as it would write it"

echo "== plain build and tests"
cmake --preset default >/dev/null
cmake --build --preset default -j"$jobs"
ctest --preset default -j"$jobs"
count() { ctest --preset "$1" -N | sed -n 's/^Total Tests: //p'; }
plain=$(($(count default) + 1)) # and the format check

echo "== the QTimer clock of other systems"
cmake --preset qtimer-clock >/dev/null
cmake --build --preset qtimer-clock -j"$jobs"
ctest --preset qtimer-clock
plain=$((plain + 1))

echo "== the panel through a screen reader"
tests/screen_reader_check.sh build
plain=$((plain + 1))

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

echo "== the Windows build under Wine"
tools/windows-build.sh
tests/windows_check.sh

# Every stage above stops the script on a failure; reaching here means all passed.
echo "all: $((plain + $(count sanitize) + 4 + 1)) passed, 0 failed"
