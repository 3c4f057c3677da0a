#!/usr/bin/env bash
# Installs the Debian packages the panel needs, and only those missing.
#   tools/install-deps.sh run    to build and run the panel
#   tools/install-deps.sh test   to build and run every test
set -euo pipefail

profile=${1:-run}
packages=(cmake make g++ pkg-config qt6-base-dev qt6-serialport-dev fonts-ipafont-gothic)
case "$profile" in
  run) ;;
  test)
    # clang and its runtime build the fuzz targets; lintian and
    # desktop-file-utils check the package; ser2net is a real device server
    # for the network ports' tests.
    packages+=(clang libclang-rt-dev lintian desktop-file-utils ser2net)
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  sudo=sudo
else
  sudo=
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
