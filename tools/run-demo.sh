#!/usr/bin/env bash
# Installs what is missing, builds, and starts the panel. When no real port
# is configured (ORVIK_COM1 unset) it talks to the simulated projector.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

"$top/tools/install-deps.sh" run
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j"$(nproc)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<MSG
The panel is built ($top/build/orvik-control), but this machine has no display.
Run it on a desktop, or on a virtual display:
    xvfb-run -a $top/tools/run-demo.sh
MSG
  exit 1
fi

if [ -z "${ORVIK_COM1:-}" ]; then
  out=$(mktemp)
  "$top/build/orvik-projector-sim" >"$out" &
  sim=$!
  trap 'kill $sim 2>/dev/null; rm -f "$out"' EXIT
  for _ in $(seq 50); do [ -s "$out" ] && break; sleep 0.1; done
  ORVIK_COM1=$(head -n 1 "$out")
  export ORVIK_COM1
  echo "No ORVIK_COM1 set: COM1 is the simulated projector at $ORVIK_COM1"
fi
"$top/build/orvik-control"
