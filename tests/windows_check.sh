#!/usr/bin/env bash
# The Windows build under Wine, against the simulated projector. COM1 leads
# to the simulator's pty and COM2 to nothing, through Wine's registry of
# ports. Checked:
# - the zip's orvik-control.exe answers --version;
# - orvik-control.exe itself, in a Wine desktop on a virtual display,
#   clicked with the mouse: POWER ON and STATUS put exactly their frames on
#   the line, and the status line shows the decoded text (its red pixels);
# - the panel's window cross-built as orvik-wine-check.exe, with
#   -platform offscreen and real mouse events, prints its lines: " Power ON"
#   after STATUS, and the warning for the missing COM2.
#   tests/windows_check.sh   (after tools/windows-build.sh and the Linux build)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
zip=$(ls "$top"/build-win/orvik-control-*-win64.zip)
work=$(mktemp -d)
sim=
xvfb=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
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
line() { od -An -c "$work/line" 2>/dev/null | tr -s ' ' | sed 's/^ //;s/ $//'; }

version=$(cd "$app" && timeout 120 wine orvik-control.exe --version 2>/dev/null | tr -d '\r')
check "--version prints orvik-control 1.30 (got '$version')" test "$version" = "orvik-control 1.30"

"$top/build/orvik-projector-sim" --record "$work/line" >"$work/sim.out" &
sim=$!
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
pty=$(head -n 1 "$work/sim.out")
# Wine makes dosdevices/comN from this key whenever it starts its devices.
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$pty" /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v COM2 /d "" /f >/dev/null 2>&1
wineserver -k 2>/dev/null

# The real program on a virtual display: the window is centred on a
# 1024x768 desktop, so its buttons stand at fixed places.
. "$top/tools/virtual_display.sh"
start_virtual_display 1024x768x24 || exit 1
xvfb=$xvfb_pid
display=$DISPLAY
(cd "$app" && DISPLAY=$display timeout 120 wine explorer /desktop=orvik,1024x768 orvik-control.exe --com1 COM1 \
  >/dev/null 2>&1 &)
for _ in $(seq 60); do
  DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -q 'CONTROL  Ver.1.30' && break
  sleep 0.5
done
sleep 2
DISPLAY=$display xdotool mousemove 248 222 click 1 # POWER ON
sleep 1.3                                          # its reply time-out and display clear pass
DISPLAY=$display xdotool key ctrl+h                # the data panel
sleep 0.8
DISPLAY=$display xdotool mousemove 676 549 click 1 # STATUS
sleep 0.4
DISPLAY=$display import -window root "$work/panel.png"
red=$(convert "$work/panel.png" -crop 300x16+316+576 +repage -fuzz 25% -fill black +opaque red \
  -fill white -opaque red -format '%[fx:mean]' info: 2>/dev/null)
check "orvik-control.exe: exactly C00 CR, then CR0 CR on the line (got '$(line)')" test "$(line)" = 'C 0 0 \r C R 0 \r'
check "orvik-control.exe: the status line shows a decoded text in red (share $red)" \
  awk -v r="${red:-0}" 'BEGIN { exit !(r > 0.005) }'
cp "$work/panel.png" "$top/build-win/wine-panel.png" 2>/dev/null
wineserver -k 2>/dev/null
: >"$work/line"

out=$(cd "$app" && timeout 120 wine orvik-wine-check.exe -platform offscreen 2>/dev/null | tr -d '\r')
echo "$out"
check "POWER ON shows its frame on the TXD line" grep -qF 'POWER ON TXD:[ C 0 0 CR ]' <<<"$out"
check "STATUS is decoded as ' Power ON'" grep -qF 'STATUS:[ Power ON]' <<<"$out"
check "exactly C00 CR then CR0 CR on the line (got '$(line)')" test "$(line)" = 'C 0 0 \r C R 0 \r'
check "a missing COM2 gives its warning" grep -qF 'WARNING:COM2 (\\.\COM2): ' <<<"$out"
echo "windows: $passed passed, $failed failed (the panel's picture under Wine: build-win/wine-panel.png)"
[ "$failed" -eq 0 ]
