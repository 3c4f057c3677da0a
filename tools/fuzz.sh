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
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
mkdir -p "$build/artifacts"

export QT_QPA_PLATFORM=offscreen
# AddressSanitizer keeps freed memory in a quarantine (256 MB by default) to
# catch use after free. Every run builds and frees a whole rig, so that
# quarantine, not the targets, is what grew the resident memory run after
# run and slowed the executions down. A small one still catches a use right
# after a free, and the RSS limit then fails a target that truly grows.
export ASAN_OPTIONS="quarantine_size_mb=16:${ASAN_OPTIONS:-}"
for target in "${targets[@]}"; do
  work=$(mktemp -d)
  cp "$top/tests/fuzz/corpus/$target/"* "$work/"
  echo "== $target: ${seconds} s"
  "$build/tests/fuzz/$target" "$work" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=400 \
    -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 2>&1 | tail -n 12
  rc=${PIPESTATUS[0]}
  rm -rf "$work"
  [ "$rc" -eq 0 ] || { echo "$target found a failure; see $build/artifacts" >&2; exit "$rc"; }
done
