#!/usr/bin/env bash
# The service as a site runs it: the package installed in a Debian 12
# container booted with a real systemd, set up as the README's "With the
# service" says, and checked as a user would. Needs root, debootstrap and
# systemd-nspawn (tools/install-deps.sh test installs them).
#   tests/systemd_check.sh PACKAGE.deb
# The container's tree is made once (about 2 minutes and 400 MB) and kept in
# /var/cache/orvik-systemd; ORVIK_SYSTEMD_CACHE names another place.
set -euo pipefail
deb=$(realpath "$1")
cache=${ORVIK_SYSTEMD_CACHE:-/var/cache/orvik-systemd}
base=$cache/bookworm
work=$(mktemp -d /var/tmp/orvik-systemd.XXXXXX)
tree=$work/tree
log=$work/log
nspawn=
cgroup=
# The container's init, child of systemd-nspawn; empty before it starts.
leader() { [ -n "$nspawn" ] && ps -o pid= --ppid "$nspawn" | head -n 1 | tr -d ' '; }
# Its root directory too: run from a chroot, systemd-nspawn moves the tree
# over the chroot's folder, and the mount namespace's root stays the machine's.
inside() { nsenter -t "$(leader)" -a -r -w "$@"; }
say() { echo "systemd: $*"; }
fail() {
  echo "systemd: FAILED: $*" >&2
  [ -z "$(leader)" ] || inside journalctl --no-pager -n 60 -o short-monotonic >&2 2>/dev/null || true
  [ -z "${ORVIK_SYSTEMD_HOLD:-}" ] || { echo "holding the container: nsenter -t $(leader) -a -r -w" >&2; sleep 900; }
  exit 1
}
cleanup() {
  if [ -n "$nspawn" ] && kill -0 "$nspawn" 2>/dev/null; then
    local init
    init=$(leader)
    kill -s SIGRTMIN+4 "$init" 2>/dev/null || true # the container's poweroff
    for _ in $(seq 50); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.2; done
    # Its init killed, the kernel ends every process of the container.
    kill -9 "$init" "$nspawn" 2>/dev/null || true
    wait "$nspawn" 2>/dev/null || true
  fi
  [ -z "$cgroup" ] || find "$cgroup" -depth -type d -exec rmdir {} + 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

[ "$(id -u)" -eq 0 ] || fail "run as root: it boots a container"
for tool in debootstrap systemd-nspawn nsenter; do
  command -v "$tool" >/dev/null || fail "$tool is missing: tools/install-deps.sh test installs it"
done

# The tree, once: Debian 12 with systemd, mosquitto, ser2net and what the
# package needs. A package whose dependencies changed makes it anew.
mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p; s/^deb \(\[[^]]*\] \)\?\(http[^ ]*\) bookworm .*/\2/p' \
  /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | grep -v security | head -n 1 || true)
mirror=${mirror:-http://deb.debian.org/debian}
depends=$(dpkg-deb -f "$deb" Depends | md5sum | cut -c1-12)
if [ ! -f "$base/.complete-$depends" ]; then
  say "making the container's tree in $base (once, about 2 minutes)"
  rm -rf "$base"
  mkdir -p "$cache"
  debootstrap --variant=minbase \
    --include=systemd,systemd-sysv,dbus,mosquitto,mosquitto-clients,ser2net,iproute2,procps \
    bookworm "$base" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
    { tail -n 30 "$cache/debootstrap.log" >&2; fail "debootstrap failed; its log: $cache/debootstrap.log"; }
  echo "deb $mirror bookworm main" >"$base/etc/apt/sources.list"
  cp "$deb" "$base/tmp/orvik.deb"
  # The package's dependencies, then the package itself goes again: each
  # run installs the one it checks.
  chroot "$base" sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
      --no-install-recommends /tmp/orvik.deb && dpkg -r orvik-control && apt-get clean' \
    >>"$cache/debootstrap.log" 2>&1 || fail "installing the package's dependencies failed: $cache/debootstrap.log"
  rm -f "$base/tmp/orvik.deb"
  touch "$base/.complete-$depends"
fi
say "a copy of the tree, the package installed"
cp -a "$base" "$tree"
cp "$deb" "$tree/tmp/orvik.deb"
chroot "$tree" dpkg -i /tmp/orvik.deb >"$log" 2>&1 || { cat "$log" >&2; fail "dpkg -i failed"; }

# The site: two projectors, one on a pty whose owner keeps a link to it, one
# behind ser2net; the passwords; a user in dialout and one not.
mkdir -p "$tree/etc/orvik" "$tree/etc/systemd/system" "$tree/var/lib/prometheus/node-exporter"
printf '127.0.0.1 localhost\n::1 localhost\n' >"$tree/etc/hosts" # as an installed system has it
cat >"$tree/etc/orvik/ports" <<'EOF'
hall-1  /run/orvik-sim/hall-1     pjlink=127.0.0.1:4352
hall-2  tcp://127.0.0.1:4001      pjlink=127.0.0.1:4353
EOF
printf 'mqtt-secret\n' >"$tree/etc/orvik/mqtt-password"
printf 'pjlink-secret\n' >"$tree/etc/orvik/pjlink-password"
chmod 600 "$tree/etc/orvik/mqtt-password" "$tree/etc/orvik/pjlink-password"
cat >"$tree/etc/mosquitto/conf.d/orvik.conf" <<'EOF'
listener 1883
password_file /etc/mosquitto/orvik.passwd
EOF
chroot "$tree" sh -c 'mosquitto_passwd -b -c /etc/mosquitto/orvik.passwd orvik mqtt-secret &&
  chown mosquitto: /etc/mosquitto/orvik.passwd && chmod 600 /etc/mosquitto/orvik.passwd &&
  useradd -m -G dialout alice && useradd -m bob &&
  chgrp dialout /var/lib/prometheus/node-exporter && chmod g+w /var/lib/prometheus/node-exporter'
cat >"$tree/etc/ser2net.yaml" <<'EOF'
connection: &hall2
  accepter: tcp,127.0.0.1,4001
  connector: serialdev,/run/orvik-sim/hall-2,19200n81,local
EOF
# The far ends, and ser2net's one non-loopback address (a veth left down):
# in a private network it listens only once there is one.
cat >"$tree/etc/systemd/system/orvik-sim@.service" <<'EOF'
[Unit]
Description=Simulated projector %i
Before=orvik-gateway.service orvik-mqtt.service ser2net.service
[Service]
ExecStartPre=/bin/mkdir -p /run/orvik-sim
ExecStart=/usr/bin/orvik-projector-sim --link /run/orvik-sim/%i
# A serial port's mode, as udev gives an adapter: the group dialout.
ExecStartPost=/bin/sh -c 'until [ -e /run/orvik-sim/%i ]; do sleep 0.1; done; chgrp dialout /run/orvik-sim/%i; chmod 660 /run/orvik-sim/%i'
[Install]
WantedBy=multi-user.target
EOF
cat >"$tree/etc/systemd/system/orvik-test-net.service" <<'EOF'
[Unit]
Description=A non-loopback address for ser2net
Before=ser2net.service
[Service]
Type=oneshot
RemainAfterExit=yes
ExecStart=/sbin/ip link add orvik0 type veth peer name orvik1
ExecStart=/sbin/ip address add 192.0.2.1/24 dev orvik0
[Install]
WantedBy=multi-user.target
EOF
mkdir -p "$tree/etc/systemd/system/ser2net.service.d"
printf '[Service]\nTimeoutStopSec=1\n' >"$tree/etc/systemd/system/ser2net.service.d/quick-stop.conf"
# As the README says: the units from the examples, the service and the
# night's power-off enabled.
cp "$tree"/usr/share/doc/orvik-control/examples/orvik-*.{service,socket,timer} "$tree/etc/systemd/system/"
chroot "$tree" systemctl enable orvik-sim@hall-1 orvik-sim@hall-2 orvik-test-net ser2net mosquitto \
  orvik-gateway orvik-night-off.timer >>"$log" 2>&1 || { cat "$log" >&2; fail "systemctl enable failed"; }

say "booting the container"
# The container's systemd makes its slices below the cgroup it starts in:
# two checks at once in one cgroup would share, and kill, each other's
# units. So it starts in a cgroup of its own, below this one.
v2=/sys/fs/cgroup
[ -d $v2/unified ] && v2=$v2/unified # a hybrid hierarchy
cgroup=$v2$(sed -n 's/^0:://p' /proc/self/cgroup)/orvik-check-$$
mkdir "$cgroup" 2>/dev/null || cgroup=
(
  [ -z "$cgroup" ] || echo "$BASHPID" >"$cgroup/cgroup.procs" 2>/dev/null || true
  SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 exec systemd-nspawn -q -b -D "$tree" --register=no --keep-unit \
    --private-network --system-call-filter=bpf --machine="orvik-check-$$"
) >"$work/console" 2>&1 &
nspawn=$!
# systemd-nspawn's own messages say why a container never started (no
# cgroups, / not a mount point in a chroot...): show them.
unbooted() {
  tail -n 20 "$work/console" >&2
  fail "$1; systemd-nspawn's messages are above"
}
for _ in $(seq 100); do
  kill -0 "$nspawn" 2>/dev/null || unbooted "systemd-nspawn ended before the container started"
  state=$( [ -n "$(leader)" ] && inside systemctl is-system-running 2>/dev/null || true)
  case $state in running | degraded) break ;; esac
  sleep 0.3
done
[ -n "$(leader)" ] || unbooted "the container did not start in 30 s"
inside systemctl is-system-running --wait >/dev/null 2>&1 ||
  { inside systemctl --failed --no-pager >&2 || true; fail "the container did not come up"; }

# Waits up to $1 seconds for a command to succeed.
within() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 5))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.2; done
  return 1
}
as() { inside runuser -u "$1" -- "${@:2}"; }
# A PJLink query with the password's digest: the reply line. PJLink's lines
# end with a CR alone.
pjlink() {
  inside bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$1" || exit 1
    read -r -d $'"'\\r'"' -t 3 hello <&3 || exit 1
    digest=$(printf "%s%s" "${hello#PJLINK 1 }" pjlink-secret | md5sum | cut -c1-32)
    printf "%s%s\r" "$digest" "$2" >&3
    read -r -d $'"'\\r'"' -t 3 reply <&3 && printf "%s\n" "$reply"' pjlink "$1" "$2"
}
topic() { inside mosquitto_sub -u orvik -P mqtt-secret -t "$1" -C 1 -W 2; }
main_pid() { inside systemctl show -p MainPID --value "$1"; }
passed=0
ok() {
  say "ok: $*"
  passed=$((passed + 1))
}

active() { [ "$(inside systemctl is-active "$1")" = active ]; }
within 20 active orvik-gateway.service || fail "orvik-gateway is $(inside systemctl is-active orvik-gateway.service)"
ok "orvik-gateway.service active"

# The simulator starts with its power on.
powered() { [ "$(pjlink "$1" '%1POWR ?')" = '%1POWR=1' ] && [ "$(topic "orvik/$2/power")" = on ]; }
within 15 powered 4352 hall-1 || fail "hall-1: PJLink '$(pjlink 4352 '%1POWR ?')', MQTT '$(topic orvik/hall-1/power)'"
within 15 powered 4353 hall-2 || fail "hall-2: PJLink '$(pjlink 4353 '%1POWR ?')', MQTT '$(topic orvik/hall-2/power)'"
ok "PJLink and MQTT answer for the pty projector and the one behind ser2net"

out=$(as alice orvik-send --ports-file /etc/orvik/ports status 2>&1) || fail "orvik-send as alice: $out"
[ "$(grep -c 'status Power ON' <<<"$out")" -eq 2 ] || fail "orvik-send as alice printed: $out"
ok "a user in dialout goes through the service: $(head -n 1 <<<"$out")"

if out=$(as bob orvik-send --ports-file /etc/orvik/ports status 2>&1); then fail "bob was let in: $out"; fi
grep -q 'dialout' <<<"$out" || fail "bob was refused without naming the group: $out"
ok "a user outside dialout is refused, the group named"

inside systemctl start orvik-night-off.service || fail "orvik-night-off.service failed"
[ "$(inside systemctl show -p Result --value orvik-night-off.service)" = success ] || fail "night-off: no success"
ok "orvik-night-off.service succeeds while the service runs"

before=$(main_pid orvik-gateway.service)
inside systemctl kill -s KILL orvik-gateway.service || fail "systemctl kill -s KILL orvik-gateway.service failed"
restarted() { active orvik-gateway.service && [ "$(main_pid orvik-gateway.service)" != "$before" ]; }
within 15 restarted || fail "orvik-gateway did not come back after kill -9"
# A pty stays in exclusive mode after its user was killed (a device's is
# reset when its last user closes it): its owner makes a new one, and the
# service opens it through the link made anew.
inside systemctl restart orvik-sim@hall-1.service
served() { as alice orvik-send --ports-file /etc/orvik/ports status; }
within 10 served || fail "orvik-send after the restart: $(served 2>&1)"
ok "kill -9, then a restart that serves again"

metrics=/var/lib/prometheus/node-exporter/orvik.prom
within 10 inside test -s "$metrics" || fail "no metrics file"
stamp() { inside stat -c %y "$metrics" 2>/dev/null || echo none; }
replaced() { [ "$(stamp)" != "$1" ]; }
for unit in orvik-mqtt orvik-gateway orvik-mqtt; do
  before=$(stamp)
  inside systemctl start "$unit.service" || fail "switching to $unit failed"
  within 10 active "$unit.service" || fail "$unit is not active after a switch"
  as alice orvik-send --ports-file /etc/orvik/ports status >/dev/null || fail "orvik-send through $unit"
  within 10 replaced "$before" || fail "$unit did not replace the metrics file"
done
if inside journalctl --no-pager -b | grep -E 'NAMESPACE|status=226'; then fail "a switch raced"; fi
ok "three switches between orvik-gateway and orvik-mqtt, no NAMESPACE error, the metrics file replaced each time"
inside systemctl start orvik-gateway.service

# A device the unit's policy refuses, one without a driver, and a projector
# removed from the file.
inside sh -c 'mknod /dev/ttyAMA0 c 204 64 && chgrp dialout /dev/ttyAMA0 && chmod 660 /dev/ttyAMA0'
inside sh -c 'printf "pi-uart /dev/ttyAMA0\nusb /dev/ttyUSB0\n" >>/etc/orvik/ports'
inside systemctl restart orvik-gateway.service
inside sh -c 'mknod /dev/ttyUSB0 c 188 0 && chgrp dialout /dev/ttyUSB0 && chmod 660 /dev/ttyUSB0'
journal() { inside journalctl --no-pager -b -u orvik-gateway.service "$@"; }
journal_has() { journal "${@:2}" | grep -q "$1"; }
within 10 journal_has 'pi-uart (/dev/ttyAMA0): Operation not permitted by the device policy.*DeviceAllow=' -p warning ||
  fail "the device policy's refusal is not explained at warning level: $(journal -p warning | tail -n 5)"
ok "warnings reach the journal at PRIORITY<=4; the device policy's refusal says what to add"
within 10 journal_has 'usb (/dev/ttyUSB0): No such device or address' ||
  fail "/dev/ttyUSB0 made after the start: $(journal | grep ttyUSB0 | tail -n 2)"
if journal | grep -q 'usb (/dev/ttyUSB0).*DeviceAllow'; then fail "/dev/ttyUSB0 refused by the policy"; fi
ok "/dev/ttyUSB0 made after the start is refused for want of a driver (ENXIO), not by the policy"
out=$(as alice orvik-send --port pi-uart=/dev/ttyAMA0 status 2>&1) && fail "pi-uart answered: $out"
[ "$(grep -o 'pi-uart (/dev/ttyAMA0)' <<<"$out" | head -n 1)" = 'pi-uart (/dev/ttyAMA0)' ] &&
  ! grep -q 'pi-uart (/dev/ttyAMA0): pi-uart' <<<"$out" || fail "the name is said twice: $out"
ok "through the socket the device is named once: $out"

within 10 test "$(topic orvik/pi-uart/availability)" = offline || fail "pi-uart has no availability topic"
inside sed -i '/^pi-uart/d' /etc/orvik/ports
inside systemctl restart orvik-gateway.service
gone() { ! topic orvik/pi-uart/availability; }
within 10 gone ||
  fail "orvik/pi-uart/availability is still retained after pi-uart left the ports file"
ok "the retained topics of a projector removed from the ports file are cleared"

echo "systemd: $passed passed, 0 failed"
