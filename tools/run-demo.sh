#!/usr/bin/env bash
# Installs what is missing, builds the panel and the simulated projector,
# and starts the panel on the simulator. On a machine without a display it
# renders the panel, talking to the simulator, into a PNG instead.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

tools/install-deps.sh run
cmake --preset default >/dev/null
cmake --build --preset demo -j"$(nproc)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  picture="$top/build/orvik-panel.png"
  build/tools/orvik-screenshot "$picture" 2>/dev/null
  cat <<MSG
This machine has no display, so here is the panel after STATUS, answered by
the simulated projector:
    $picture
To use it, run this command again on a machine with a desktop, or log in
with 'ssh -X' from one, or start it yourself:
    build/orvik-projector-sim --link /tmp/projector &
    build/orvik-control --com1 /tmp/projector
MSG
  exit 0
fi

link=$(mktemp -u /tmp/orvik-projector.XXXXXX)
build/orvik-projector-sim --link "$link" >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
echo "COM1 is the simulated projector at $link"
build/orvik-control --com1 "$link"
