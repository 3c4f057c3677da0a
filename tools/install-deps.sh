#!/usr/bin/env bash
# Installs the Debian packages the panel needs, and only those missing.
#   tools/install-deps.sh run    to build and run the panel
#   tools/install-deps.sh test   to build and run every test
#   tools/install-deps.sh windows  to cross-build for Windows and run it under Wine
set -euo pipefail

profile=${1:-run}
packages=(cmake make g++ pkg-config qt6-base-dev qt6-serialport-dev libmosquitto-dev libsystemd-dev fonts-ipafont-gothic)
case "$profile" in
  run) ;;
  test)
    # clang and its runtime build the fuzz targets; clang-format checks
    # the code's format; promtool (prometheus) checks the metrics file and
    # systemd-analyze the example units; lintian and
    # desktop-file-utils check the package; ser2net is a real device server
    # for the network ports' tests, mosquitto a real broker for the service's;
    # picocom is another program holding a port.
    packages+=(clang clang-format libclang-rt-dev lintian desktop-file-utils ser2net prometheus systemd
      mosquitto mosquitto-clients picocom)
    # debootstrap and systemd-nspawn boot Debian 12 with a real systemd
    # for the service's units.
    packages+=(debootstrap systemd-container)
    # Orca speaks the panel through speech-dispatcher, under Xvfb with a
    # session bus and AT-SPI; xdotool presses the keys.
    packages+=(orca speech-dispatcher xvfb xdotool dbus-daemon at-spi2-core libglib2.0-bin)
    # Node.js and npm run the npm pjlink client, a PJLink client nobody
    # here wrote, against the gateway; a Node.js of another origin will do.
    command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)
    ;;
  windows)
    # MinGW-w64 and Wine; dpkg-dev and the host's Qt tools build Qt for
    # Windows from Debian's source; zip packs it; Xvfb, xdotool and
    # ImageMagick click the program under Wine and look at it.
    packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine ninja-build dpkg-dev qt6-base-dev-tools zip unzip
      xvfb xauth x11-utils xdotool imagemagick)
    ;;
  *)
    echo "usage: $0 run|test|windows" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "To install them, run as root or install sudo." >&2
    exit 1
  fi
  sudo=(sudo)
fi
echo "Installing ${#missing[@]} packages: ${missing[*]}"
# apt's and dpkg's progress goes to a log, with a line every 30 s; only a
# failure shows the log.
. "$(dirname "$0")/logged.sh"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
apt_install() {
  "${sudo[@]}" apt-get update -qq &&
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      -o Dpkg::Use-Pty=0 "$@"
}
logged "installing packages" "$log" apt_install "${missing[@]}" || exit 1
echo "Installed."
