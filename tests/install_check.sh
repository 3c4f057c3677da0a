#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the list of installed
# files, the desktop entry and the icons.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

status=0
expected='bin/orvik-control
bin/orvik-gateway
bin/orvik-mqtt
bin/orvik-projector-sim
bin/orvik-send
lib/modules-load.d/orvik-control.conf
share/bash-completion/completions/orvik-send
share/applications/orvik-control.desktop
share/doc/orvik-control/changelog.gz
share/doc/orvik-control/copyright
share/doc/orvik-control/examples/orvik-gateway.service
share/doc/orvik-control/examples/orvik-gateway.socket
share/doc/orvik-control/examples/orvik-metrics.service
share/doc/orvik-control/examples/orvik-metrics.timer
share/doc/orvik-control/examples/orvik-mqtt.service
share/doc/orvik-control/examples/orvik-mqtt.socket
share/doc/orvik-control/examples/orvik-night-off.service
share/doc/orvik-control/examples/orvik-night-off.timer
share/doc/orvik-control/examples/ports
share/icons/hicolor/128x128/apps/orvik-control.png
share/icons/hicolor/16x16/apps/orvik-control.png
share/icons/hicolor/256x256/apps/orvik-control.png
share/icons/hicolor/32x32/apps/orvik-control.png
share/icons/hicolor/48x48/apps/orvik-control.png
share/icons/hicolor/64x64/apps/orvik-control.png
share/icons/hicolor/scalable/apps/orvik-control.svg
share/man/man1/orvik-control.1.gz
share/man/man1/orvik-gateway.1.gz
share/man/man1/orvik-mqtt.1.gz
share/man/man1/orvik-projector-sim.1.gz
share/man/man1/orvik-send.1.gz'
installed=$(cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
if [ "$installed" != "$(LC_ALL=C sort <<<"$expected")" ]; then
  echo "installed files differ from the list:"
  diff <(LC_ALL=C sort <<<"$expected") <(echo "$installed") || true
  status=1
fi
entry="$prefix/share/applications/orvik-control.desktop"
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$entry" 2>&1) || status=1
  [ -z "$out" ] || { echo "desktop-file-validate: $out"; status=1; }
else
  echo "desktop-file-validate not found (package desktop-file-utils): entry not validated"
fi
grep -qx 'Exec=orvik-control' "$entry" || { echo "desktop entry does not start orvik-control"; status=1; }
for size in 16 32 48 64 128 256; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/orvik-control.png"
  # The PNG header holds width and height at bytes 16-23.
  dims=$(od -An -tu1 -j16 -N8 "$icon" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x${size}" ] || { echo "icon $size is $dims"; status=1; }
done
zcat "$prefix/share/man/man1/orvik-control.1.gz" | grep -q 'ORVIK_COM1' || { echo "manual page names no ORVIK_COM1"; status=1; }
# The example units, with the installed program where they expect it.
if command -v systemd-analyze >/dev/null; then
  units=$(mktemp -d)
  for unit in "$prefix"/share/doc/orvik-control/examples/*.{service,socket,timer}; do
    sed "s|/usr/bin/|$prefix/bin/|" "$unit" >"$units/$(basename "$unit")"
  done
  out=$(cd "$units" && systemd-analyze verify --man=no ./*.service ./*.socket ./*.timer 2>&1) || { echo "$out"; status=1; }
  [ -z "$out" ] || { echo "systemd-analyze verify: $out"; status=1; }
  # Hardened as the best system daemons: an exposure of 2.5 at most.
  for unit in "$units"/*.service; do
    (cd "$units" && systemd-analyze security --offline=true --threshold=25 --no-pager "./$(basename "$unit")" \
      >"$units/security" 2>&1) || { tail -n 1 "$units/security"; status=1; }
  done
  rm -rf "$units"
else
  echo "systemd-analyze not found (package systemd): example units not verified"
fi
[ $status -eq 0 ] && echo "1 passed, 0 failed"
exit $status
