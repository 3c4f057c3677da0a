#!/usr/bin/env bash
# The Windows build under Wine, against the simulated projector: the zip's
# orvik-control.exe answers --version, and the panel's window (cross-built
# as orvik-wine-check.exe beside it) takes real clicks with COM1 led to the
# simulator's pty through Wine's dosdevices, sends exactly its frames,
# decodes STATUS, and warns about a missing COM2.
#   tests/windows_check.sh   (after tools/windows-build.sh and the Linux build)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
zip=$(ls "$top"/build-win/orvik-control-*-win64.zip)
work=$(mktemp -d)
sim=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
timeout 300 wine cmd /c ver >/dev/null 2>&1 || { echo "wine does not start"; exit 1; }
unzip -q "$zip" -d "$work"
app=$(ls -d "$work"/orvik-control-*-win64)
cp "$top/build-win/orvik-wine-check.exe" "$app/"

passed=0
failed=0
check() { # NAME, then the command that must succeed
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $name"; fi
}

version=$(cd "$app" && timeout 120 wine orvik-control.exe --version 2>/dev/null | tr -d '\r')
check "--version prints orvik-control 1.30 (got '$version')" test "$version" = "orvik-control 1.30"

"$top/build/orvik-projector-sim" --record "$work/line" >"$work/sim.out" &
sim=$!
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
pty=$(head -n 1 "$work/sim.out")
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com1"
rm -f "$WINEPREFIX/dosdevices/com2"
out=$(cd "$app" && timeout 120 wine orvik-wine-check.exe -platform offscreen 2>/dev/null | tr -d '\r')
echo "$out"
check "POWER ON shows its frame on the TXD line" grep -qF 'POWER ON TXD:[ C 0 0 CR ]' <<<"$out"
check "STATUS is decoded as ' Power ON'" grep -qF 'STATUS:[ Power ON]' <<<"$out"
line=$(od -An -c "$work/line" | tr -s ' ' | sed 's/^ //')
check "exactly C00 CR then CR0 CR on the line (got '$line')" test "$line" = 'C 0 0 \r C R 0 \r'
check "a missing COM2 gives its warning" grep -qF 'WARNING:COM2 (\\.\COM2): ' <<<"$out"
echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
