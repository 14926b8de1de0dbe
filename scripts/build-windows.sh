#!/usr/bin/env bash
# Builds the help centre for 32-bit Windows: a static Qt for i686-w64-mingw32, made once
# from Debian's own qt6-base source and kept in a cache outside the clone, then the
# program against it, packed with its licence notes into a zip and an installer (NSIS) in
# build-windows/ (or $WINDOWS_BUILD_DIR).
#
#   scripts/build-windows.sh            Qt (when not cached) and the program
#   scripts/build-windows.sh --qt-only  only Qt
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${WINDOWS_BUILD_DIR:-$here/build-windows}
jobs=${JOBS:-$(nproc)}

"$here/scripts/deps.sh" g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 \
  ninja-build dpkg-dev zip qt6-base-dev-tools nsis

# Qt is built from the source of the same qt6-base whose host tools (moc, rcc, uic) are
# installed; its version names the cache.
qt_source_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quenmar-helpcentre
qt_prefix=$cache/qt6-base-${qt_source_version}-i686-w64-mingw32-static
toolchain=$here/cmake/mingw-w64-i686.cmake

build_qt() {
  local work
  work=$(mktemp -d "${TMPDIR:-/tmp}/qm-qt-build.XXXXXX")
  trap 'rm -rf "$work"' RETURN
  echo "== building Qt $qt_source_version for i686-w64-mingw32 into $qt_prefix (once per machine)"

  # Debian's source package, through a deb-src entry handed to apt in a configuration of
  # its own: the system's sources and package lists stay as they are.
  mkdir -p "$work/apt/lists/partial" "$work/apt/archives/partial" "$work/src"
  cat >"$work/apt/sources.list" <<EOF
deb-src http://deb.debian.org/debian bookworm main
deb-src http://deb.debian.org/debian bookworm-updates main
deb-src http://deb.debian.org/debian-security bookworm-security main
EOF
  local apt_options=(-o "Dir::Etc::SourceList=$work/apt/sources.list" -o "Dir::Etc::SourceParts=/nonexistent"
    -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache::Archives=$work/apt/archives"
    -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache=" -o "Debug::NoLocking=1"
    -o "APT::Sandbox::User=root")
  apt-get "${apt_options[@]}" update -qq
  (cd "$work/src" && apt-get "${apt_options[@]}" source --download-only "qt6-base=$qt_source_version" -qq)
  (cd "$work/src" && dpkg-source --no-check -x ./*.dsc qtbase >/dev/null)

  cmake -S "$work/src/qtbase" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$qt_prefix.partial" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
    -DBUILD_SHARED_LIBS=OFF \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_opengl_dynamic=ON \
    -DFEATURE_tabletevent=OFF -DFEATURE_icu=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_zstd=OFF
  cmake --build "$work/build" -j"$jobs"
  rm -rf "$qt_prefix.partial" "$qt_prefix"
  cmake --install "$work/build" >/dev/null
  mv "$qt_prefix.partial" "$qt_prefix"
  # Written last: a Qt without this stamp is incomplete and is built again.
  echo "$qt_source_version" >"$qt_prefix/.complete"
}

[ -f "$qt_prefix/.complete" ] || build_qt
[ "${1:-}" = --qt-only ] && exit 0

echo "== building the help centre for Windows in $build"
# Tests, when built, run under Wine.
"$qt_prefix/bin/qt-cmake" -S "$here" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS="${QM_BUILD_TESTS:-OFF}" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$here/tests/windows/wine-run.sh" >/dev/null
cmake --build "$build" -j"$jobs"
cmake --build "$build" --target windows-zip windows-installer
echo "The Windows build: $(ls "$build"/*.zip) and its installer $(ls "$build"/*-setup.exe)"
