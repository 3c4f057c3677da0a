#!/usr/bin/env bash
# The panel through a real screen reader: Debian's Orca, speaking through
# speech-dispatcher, whose one voice (the generic module) appends each
# utterance to a file. Under Xvfb, with a session bus and AT-SPI switched
# on, keys are pressed as an operator would and what was spoken is compared
# with the exact text expected:
# - the first Tab from start-up, and the second: "+" and "-" of VOL;
# - Ctrl+H, Shift+Tab back to STATUS, Space: the decoded status, once, and
#   nothing when the line clears;
# - the same against a projector that never answers: "no reply";
# - a COM1 that is no serial port: the warning box read out.
# The whole run is made three times and must speak the same each time.
#   tests/screen_reader_check.sh [BUILD]     (default: build)
#   RUNS=1 tests/screen_reader_check.sh       one run instead of three
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
if [[ "${2:-}" != --inside ]]; then
  exec dbus-run-session -- "$0" "$build" --inside 2> >(grep -v '^dbus-daemon\|SpiRegistry' >&2)
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# speech-dispatcher and Orca read their settings from here, not the user's.
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run XDG_DATA_HOME=$work/data
mkdir -p "$HOME" "$XDG_CONFIG_HOME/speech-dispatcher/modules" "$XDG_RUNTIME_DIR" "$XDG_DATA_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
spoken=$work/spoken
cat >"$XDG_CONFIG_HOME/speech-dispatcher/speechd.conf" <<EOF
AddModule "file" "sd_generic" "file.conf"
DefaultModule file
LanguageDefaultModule "en" "file"
# No sound server here; nothing is played anyway.
AudioOutputMethod "alsa"
AudioALSADevice "null"
EOF
cat >"$XDG_CONFIG_HOME/speech-dispatcher/modules/file.conf" <<EOF
GenericExecuteSynth "printf '%s\\\\n' \'\$DATA\' >> $spoken"
AddVoice "en" "MALE1" "file"
GenericLanguage "en" "en" "utf-8"
EOF

# Orca will not start while any other Orca of this user runs anywhere on
# the machine (the user's own screen reader, another test run): it asks
# "pgrep -u UID -x orca". This one has a bus and a display of its own, so
# its pgrep finds none.
mkdir -p "$work/orca-bin"
printf '#!/bin/sh\nexit 1\n' >"$work/orca-bin/pgrep"
chmod +x "$work/orca-bin/pgrep"

. "$top/tools/virtual_display.sh"
start_virtual_display 1280x1024x24 || exit 1
pids+=("$xvfb_pid")
export QT_QPA_PLATFORM=xcb # the test command runs the other tests offscreen, where no screen reader reaches
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
  --method org.a11y.Bus.GetAddress >/dev/null
gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
  --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled '<true>' >/dev/null

# Waits until the screen reader has been quiet for a while, then prints and
# forgets what it said. With a pattern, it first waits (10 s at most) for
# words that match: a reply that comes after its time-out is spoken late
# on a loaded machine.
heard() {
  if [ -n "${1:-}" ]; then
    for _ in $(seq 100); do grep -q "$1" "$spoken" 2>/dev/null && break; sleep 0.1; done
  fi
  local size=-1 quiet=0
  for _ in $(seq 100); do
    local now
    now=$(stat -c %s "$spoken" 2>/dev/null || echo 0)
    if [ "$now" = "$size" ]; then
      quiet=$((quiet + 1))
      [ $quiet -ge 6 ] && break
    else
      quiet=0
      size=$now
    fi
    sleep 0.1
  done
  cat "$spoken" 2>/dev/null
  : >"$spoken"
}

# Presses the key until the screen reader names the control: each time it
# waits for the answer, so that no press goes past the control.
press_until() {
  for _ in $(seq 40); do
    local before
    before=$(stat -c %s "$spoken" 2>/dev/null || echo 0)
    xdotool key "$1"
    for _ in $(seq 40); do
      [ "$(stat -c %s "$spoken" 2>/dev/null || echo 0)" != "$before" ] && break
      sleep 0.05
    done
    sleep 0.3
    grep -q "^$2" "$spoken" 2>/dev/null && break
  done
  heard >/dev/null
}

# Starts the panel with the arguments and focuses its last window, found
# by its process (the warning box has no title).
start_panel() {
  "$build/orvik-control" "$@" >/dev/null 2>&1 &
  panel=$!
  local window=
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --pid "$panel" 2>/dev/null | tail -1)
    [ -n "$window" ] && break
    sleep 0.1
  done
  xdotool windowfocus --sync "$window" 2>/dev/null
}

# Ends a process: SIGTERM, and SIGKILL after 3 s; false if it took that.
end() {
  kill "$1" 2>/dev/null
  for _ in $(seq 30); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  local killed=0
  kill -9 "$1" 2>/dev/null && killed=1
  wait "$1" 2>/dev/null
  [ $killed -eq 0 ]
}

# The panel ends first: Orca acts on a signal only at its next event. The
# panel must end on SIGTERM, a warning box open or not.
stop_panel() {
  end "$panel" || echo "== the panel did not end on SIGTERM"
}

one_run() {
  : >"$spoken"
  PATH=$work/orca-bin:$PATH orca >"$work/orca.log" 2>&1 &
  local orca=$!
  for _ in $(seq 100); do grep -q 'Screen reader on' "$spoken" 2>/dev/null && break; sleep 0.1; done
  if ! grep -q 'Screen reader on' "$spoken" 2>/dev/null; then
    echo "== Orca did not start: $(tr '\n' ' ' <"$work/orca.log")"
    end "$orca" || true
    return
  fi
  heard >/dev/null

  "$build/orvik-projector-sim" --link "$work/answering" >/dev/null 2>&1 &
  local sim=$!
  "$build/orvik-projector-sim" --silent --link "$work/silent" >/dev/null 2>&1 &
  local silent=$!
  for _ in $(seq 50); do [ -e "$work/answering" ] && [ -e "$work/silent" ] && break; sleep 0.1; done

  start_panel --com1 "$work/answering"
  echo "== start"; heard
  xdotool key Tab; echo "== Tab"; heard
  xdotool key Tab; echo "== Tab"; heard
  xdotool key ctrl+h; heard >/dev/null
  press_until shift+Tab 'STATUS push button'
  xdotool key space; echo "== STATUS, Space"; heard 'notification Power ON'
  stop_panel

  start_panel --com1 "$work/silent"
  heard >/dev/null
  xdotool key ctrl+h; heard >/dev/null
  press_until shift+Tab 'STATUS push button'
  xdotool key space; echo "== STATUS, Space, no answer"; heard 'notification no reply'
  stop_panel

  start_panel --com1 /dev/null
  echo "== COM1 /dev/null"; heard
  stop_panel

  kill "$sim" "$silent" 2>/dev/null
  end "$orca" || true
  wait "$sim" "$silent" 2>/dev/null
}

expected='== start
ORVIK   QA3 & QB3 & QC3  CONTROL  Ver.1.30 frame.
POWER panel.
ON push button.
POWER.
== Tab
tab 
VOL up push button.
VOL up, hold to repeat.
== Tab
tab 
VOL down push button.
VOL down, hold to repeat.
== STATUS, Space
space 
notification Power ON.
== STATUS, Space, no answer
space 
notification no reply.
== COM1 /dev/null'

status=0
first=
for run in ${RUNS:-1 2 3}; do
  got=$(one_run)
  if grep -q '^== Orca did not start' <<<"$got"; then
    grep '^== Orca did not start' <<<"$got" | cut -c4-
    status=1
    break
  fi
  # The warning's own words are the system's; how it is introduced is ours.
  body=$(sed '/^== COM1/q' <<<"$got")
  warning=$(sed -n '/^== COM1/,$p' <<<"$got" | tail -n +2 | grep -v '^== ')
  if [ "$body" != "$expected" ]; then
    echo "run $run: the screen reader said something else:"
    diff <(echo "$expected") <(echo "$body")
    status=1
  fi
  if ! grep -q '^alert .*COM1 (/dev/null): ' <<<"$warning"; then
    echo "run $run: the warning was not read out as an alert:"
    echo "$warning"
    status=1
  fi
  if grep -q '^== the panel did not end' <<<"$got"; then
    echo "run $run: the panel did not end on SIGTERM"
    status=1
  fi
  if [ -z "$first" ]; then
    first=$got
  elif [ "$got" != "$first" ]; then
    echo "run $run spoke other words than run 1:"
    diff <(echo "$first") <(echo "$got")
    status=1
  fi
done
[ $status -eq 0 ] && echo "1 passed, 0 failed"
exit $status
