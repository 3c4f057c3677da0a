#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that every file is
# where a desktop expects it.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

status=0
for f in bin/orvik-control bin/orvik-projector-sim \
         share/applications/orvik-control.desktop \
         share/icons/hicolor/scalable/apps/orvik-control.svg \
         share/icons/hicolor/32x32/apps/orvik-control.png \
         share/icons/hicolor/16x16/apps/orvik-control.png; do
  [ -e "$prefix/$f" ] || { echo "missing: $f"; status=1; }
done
[ -x "$prefix/bin/orvik-control" ] || { echo "orvik-control is not executable"; status=1; }
grep -qx 'Exec=orvik-control' "$prefix/share/applications/orvik-control.desktop" || { echo "desktop entry does not start orvik-control"; status=1; }
grep -qx 'Icon=orvik-control' "$prefix/share/applications/orvik-control.desktop" || { echo "desktop entry names no icon"; status=1; }
head -c 8 "$prefix/share/icons/hicolor/32x32/apps/orvik-control.png" | grep -q PNG || { echo "32x32 icon is no PNG"; status=1; }
# Nothing from the tests, tools or benchmark leaks into the install.
extra=$(cd "$prefix" && find . -type f | grep -v -E '^\./(bin/orvik-control|bin/orvik-projector-sim|share/applications/|share/icons/)' || true)
[ -z "$extra" ] || { echo "unexpected files: $extra"; status=1; }
[ $status -eq 0 ] && echo "1 passed, 0 failed"
exit $status
