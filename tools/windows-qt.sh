#!/usr/bin/env bash
# Builds Qt for Windows (Core, Gui, Widgets, Network) from Debian's own
# source with MinGW-w64, once, into a cache outside the tree keyed by the
# Qt version; prints the install prefix. About half an hour on 2 cores the
# first time; afterwards it returns at once.
#   tools/windows-qt.sh [CACHE]   (default /var/cache/orvik-win)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cache=${1:-${ORVIK_WIN_CACHE:-/var/cache/orvik-win}}
version=$(dpkg-query -W -f='${Version}' qt6-base-dev | sed 's/[+-].*//')
prefix=$cache/qt-$version-mingw64
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi
mkdir -p "$cache"
log=$cache/qt-$version-build.log
echo "Building Qt $version for Windows into $prefix (log: $log); this takes about half an hour." >&2

# Debian's source of the same Qt the host tools come from.
# A machine from Debian's installer or debootstrap has the one-line
# sources.list; a newer one has deb822 stanzas in debian.sources.
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -rqs '^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >/etc/apt/sources.list.d/orvik-deb-src.sources
  elif grep -qs '^deb ' /etc/apt/sources.list; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >/etc/apt/sources.list.d/orvik-deb-src.list
  else
    echo "No Debian package source found in /etc/apt/sources.list or /etc/apt/sources.list.d/debian.sources;" >&2
    echo "add a deb-src line for Debian 12 (bookworm) and run this again." >&2
    exit 1
  fi
fi
fail() {
  tail -n 40 "$log" >&2
  echo "Building Qt for Windows failed; the whole log: $log" >&2
  exit 1
}
src=$cache/src
: >"$log"
source_dir=
# An interrupted build's source is used again. (find on a missing folder
# fails, which under pipefail would end the script here.)
[ -d "$src" ] && source_dir=$(find "$src" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
if [ -z "$source_dir" ]; then
  mkdir -p "$src"
  (apt-get update -qq && cd "$src" && apt-get source -qq qt6-base) >>"$log" 2>&1 || fail
  source_dir=$(find "$src" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
fi
# Debian's source lacks wintab (so no tablet events); the Windows platform
# plugin needs Direct2D and OpenGL to link.
cmake -S "$source_dir" -B "$src/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$top/tools/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DBUILD_SHARED_LIBS=ON \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
  -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF \
  -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_md4c=OFF -DFEATURE_system_sqlite=OFF \
  -DFEATURE_sql=OFF -DFEATURE_xml=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
  -DFEATURE_concurrent=OFF -DFEATURE_testlib=OFF -DFEATURE_openssl=OFF -DFEATURE_jpeg=OFF \
  -DFEATURE_opengl=ON -DFEATURE_direct2d=ON -DFEATURE_tabletevent=OFF >>"$log" 2>&1 || fail
# Its progress on standard error every 30 s: standard output is the prefix.
. "$top/tools/logged.sh"
logged "building Qt for Windows" "$log.build" cmake --build "$src/build" -j"$(nproc)" >&2 || { cat "$log.build" >>"$log"; fail; }
cat "$log.build" >>"$log" && rm -f "$log.build"
cmake --install "$src/build" >>"$log" 2>&1 || fail
rm -rf "$cache/src"
touch "$prefix/.complete"
echo "$prefix"
