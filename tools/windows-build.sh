#!/usr/bin/env bash
# Cross-builds orvik-control for 64-bit Windows and packs it with its Qt and
# MinGW DLLs into build-win/orvik-control-VERSION-win64.zip. The first run
# builds Qt for Windows (about half an hour, kept in a cache outside the
# tree: tools/windows-qt.sh); later runs take a few minutes.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
tools/install-deps.sh windows

qt=$(tools/windows-qt.sh)
echo "== cross-build with $qt"
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/tools/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$qt" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DORVIK_BUILD_TESTS=OFF -DORVIK_BUILD_BENCH=OFF >/dev/null
. tools/logged.sh
mkdir -p build-win
logged "cross-build" build-win/build.log cmake --build build-win --target orvik-control orvik-wine-check -j"$(nproc)"

version=$(sed -n 's/^project(orvik-control VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=orvik-control-$version-win64
stage=build-win/$name
rm -rf "$stage" "build-win/$name.zip"
mkdir -p "$stage/platforms"
cp build-win/orvik-control.exe "$stage/"
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6Network; do cp "$qt/bin/$dll.dll" "$stage/"; done
cp "$qt/plugins/platforms/qwindows.dll" "$qt/plugins/platforms/qoffscreen.dll" "$stage/platforms/"
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
for dll in libgcc_s_seh-1.dll libstdc++-6.dll libssp-0.dll; do cp "$gcc_dir/$dll" "$stage/"; done
cp /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$stage/"
cp LICENSE "$stage/LICENSE.txt"
cat >"$stage/README.txt" <<TXT
orvik-control $version for Windows

Unzip anywhere and run orvik-control.exe. It opens COM1 at 19200 baud;
choose another port with --com1 COM3 (or --com2), or under "COM" in the
window. orvik-control.exe --help lists the options.

Fonts: the panel's captions use a Japanese Gothic font. Windows has one
(MS Gothic) when Japanese language support is installed (Settings, Time &
Language, Language, add Japanese); without it the captions are drawn in
the nearest font Windows has, which may be wider or narrower.
TXT
(cd build-win && zip -qr "$name.zip" "$name")
echo "build-win/$name.zip ($(du -k "build-win/$name.zip" | cut -f1) kB)"
