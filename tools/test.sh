#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the format, the
# plain suite, the clock test on the QTimer clock, the panel through the
# Orca screen reader, the package, the service under a booted systemd, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer (any
# report fails it), the PJLink face's thread and the node under
# ThreadSanitizer, a short run of each fuzz target, and the Windows build
# under Wine (the first run builds Qt for Windows, about half an hour, and
# the container's Debian tree, about two minutes).
#   tools/test.sh            everything
#   tools/test.sh --plain    the plain suite, the screen reader and the package
# Builds print a line every 30 s; their output goes to logs in the build
# folders, shown when a build fails. Each stage ends with one result line.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
cd "$top"
. tools/logged.sh

passed=0
# A failure's last line names the stage it ended in.
current="packages"
trap 'status=$?; [ "$status" -eq 0 ] || echo "$current: FAILED (status $status); $passed passed before it" >&2' EXIT
# Runs a stage that is one check: "== NAME", its output, "NAME: passed".
stage() {
  local name=$1 start=$SECONDS
  shift
  current=$name
  echo "== $name"
  "$@"
  echo "$name: passed ($((SECONDS - start)) s)"
  passed=$((passed + 1))
}
# Configures and builds a preset, its output in its build folder's log.
build() {
  local preset=$1 folder=$2
  current="building $preset"
  mkdir -p "$folder"
  logged "building $preset" "$folder/build.log" \
    sh -c "cmake --preset $preset && cmake --build --preset $preset -j$jobs"
}
# Runs a preset's tests; every test counts.
suite() {
  local preset=$1 start=$SECONDS count
  current="the $preset suite"
  echo "== the $preset suite"
  ctest --preset "$preset" -j"$jobs"
  count=$(ctest --preset "$preset" -N | sed -n 's/^Total Tests: //p')
  echo "the $preset suite: $count passed ($((SECONDS - start)) s)"
  passed=$((passed + count))
}

echo "== packages"
tools/install-deps.sh test
export QT_QPA_PLATFORM=offscreen

current="the npm pjlink client"
echo "== the npm pjlink client, as its lockfile pins it"
(cd tests/pjlink-client && npm ci --no-audit --no-fund --loglevel=error)

format() {
  # Every source file of the tree, without git: a tree unpacked from a tarball
  # is checked the same way. Build folders and fetched packages are not ours.
  local unformatted
  unformatted=$(find . \( -name 'build*' -o -name .git -o -name node_modules \) -prune -o \
    -type f \( -name '*.cpp' -o -name '*.h' \) -print | sort | while read -r f; do
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || echo "$f"; done)
  if [ -n "$unformatted" ]; then
    echo "$unformatted"
    echo "clang-format would change these files: run clang-format -i on them" >&2
    return 1
  fi
}
stage "format" format

build default build
suite default

build qtimer-clock build-qtimer-clock
suite qtimer-clock

stage "the panel through a screen reader" tests/screen_reader_check.sh build

package() {
  rm -f build/orvik-control_*.deb
  logged "packing" build/cpack.log sh -c 'cd build && cpack -G DEB'
  # Any error or warning fails; lintian's note about running as root does not.
  local report
  report=$(lintian build/orvik-control_*.deb 2>&1 | grep -E '^(E|W):' || true)
  [ -z "$report" ] || { echo "$report"; echo "lintian: the package has errors or warnings" >&2; return 1; }
}
stage "package" package

if [ "${1:-}" = "--plain" ]; then
  echo "all: $passed passed, 0 failed"
  exit 0
fi

stage "the service under systemd" tests/systemd_check.sh build/orvik-control_*.deb

build sanitize build-sanitize
suite sanitize

build thread build-thread
suite thread

current="fuzzing"
echo "== fuzzing, ${ORVIK_FUZZ_SECONDS:-30} s a target"
fuzzed=$(mktemp)
tools/fuzz.sh "${ORVIK_FUZZ_SECONDS:-30}" | tee "$fuzzed"
passed=$((passed + $(sed -n 's/^fuzz: \([0-9]*\) passed.*/\1/p' "$fuzzed")))
rm -f "$fuzzed"

stage "the Windows build" tools/windows-build.sh
stage "the Windows build under Wine" tests/windows_check.sh

# Every stage above stops the script on a failure; reaching here means all passed.
echo "all: $passed passed, 0 failed"
