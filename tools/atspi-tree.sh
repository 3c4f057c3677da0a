#!/usr/bin/env bash
# Shows the panel as a screen reader sees it: starts a virtual display, a
# session bus with the accessibility bus enabled (as a running screen reader
# leaves it), the simulator and the panel, then prints the AT-SPI tree and
# the events that pressing POWER ON and STATUS sends.
# Needs: xvfb dbus at-spi2-core python3-pyatspi, and a build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ "${1:-}" != --inside ]]; then
    exec dbus-run-session -- "$0" --inside
fi
work=$(mktemp -d)
. tools/virtual_display.sh
start_virtual_display 1280x1024x24
pids=("$xvfb_pid")
trap 'kill "${pids[@]}" 2>/dev/null; wait; rm -rf "$work"' EXIT
gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.a11y.Bus.GetAddress >/dev/null
gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled '<true>' >/dev/null
build/orvik-projector-sim --link "$work/projector" >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
build/orvik-control --com1 "$work/projector" >/dev/null 2>&1 &
pids+=($!)
sleep 3
/usr/bin/python3 - <<'PY'
import sys
import pyatspi
from gi.repository import GLib

panel = next((a for a in pyatspi.Registry.getDesktop(0) if a and a.name == 'orvik-control'), None)
if panel is None:
    sys.exit('the panel is not on the accessibility bus')
buttons = {}
def walk(node, depth):
    print('  ' * depth + '%s | %r | %r' % (node.getRoleName(), node.name, node.description))
    if node.getRoleName() == 'push button':
        buttons.setdefault(node.name, node)
    for child in node:
        if child is not None:
            walk(child, depth + 1)
walk(panel, 0)

print('--- events after POWER ON, then STATUS')
def show(event):
    print('%s: %r is now %r' % (event.type, event.source.description, event.source.name))
pyatspi.Registry.registerEventListener(show, 'object:property-change:accessible-name')
def press(name):
    buttons[name].queryAction().doAction(0)
    return False
GLib.timeout_add(500, press, 'ON')
GLib.timeout_add(1800, press, 'STATUS')
GLib.timeout_add(2600, pyatspi.Registry.stop)
pyatspi.Registry.start()
PY
