#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (default 60 s) from the seeds in tests/fuzz/corpus. A crash stops the run
# and leaves its input in build-fuzz/artifacts: turn it into a test.
#   tools/fuzz.sh [seconds]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build="$top/build-fuzz"
targets=(fuzz_traffic fuzz_settings fuzz_telnet fuzz_pjlink fuzz_control)

CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DORVIK_FUZZ=ON -DORVIK_BUILD_BENCH=OFF -DORVIK_HARDEN=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
. "$top/tools/logged.sh"
mkdir -p "$build/artifacts"
logged "building the fuzz targets" "$build/build.log" cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
# AddressSanitizer keeps freed memory in a quarantine (256 MB by default) to
# catch use after free. Every run builds and frees a whole rig, so that
# quarantine, not the targets, is what grew the resident memory run after
# run and slowed the executions down. A small one still catches a use right
# after a free, and the RSS limit then fails a target that truly grows.
export ASAN_OPTIONS="quarantine_size_mb=16:${ASAN_OPTIONS:-}"
# One line a target; libFuzzer's own output (its statistics, the
# dictionary it recommends) goes to a log that a failure prints.
passed=0
for target in "${targets[@]}"; do
  work=$(mktemp -d)
  cp "$top/tests/fuzz/corpus/$target/"* "$work/"
  log=$build/$target.log
  rc=0
  "$build/tests/fuzz/$target" "$work" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=400 \
    -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 >"$log" 2>&1 || rc=$?
  rm -rf "$work"
  if [ "$rc" -ne 0 ]; then
    tail -n 40 "$log"
    echo "$target: FAILED (status $rc); its log: $log, its input in $build/artifacts" >&2
    exit "$rc"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "$target: passed, ${runs:-?} inputs in $seconds s"
  passed=$((passed + 1))
done
echo "fuzz: $passed passed, 0 failed"
