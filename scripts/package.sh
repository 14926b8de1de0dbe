#!/usr/bin/env bash
# Builds what a player installs, into dist/ (or $DIST_DIR):
#  - quenmar-helpcentre_<version>_amd64.deb, the Debian package, built with Debian's
#    hardening flags in build-package/ (or $PACKAGE_BUILD_DIR);
#  - quenmar-helpcentre-<version>-windows-x86-setup.exe, the Windows installer, and
#    quenmar-helpcentre-<version>-windows-x86.zip, the Windows build (scripts/build-windows.sh);
#  - SHA256SUMS over them.
# The version is the one of project() in CMakeLists.txt.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dist=${DIST_DIR:-$here/dist}
build=${PACKAGE_BUILD_DIR:-$here/build-package}
windows_build=${WINDOWS_BUILD_DIR:-$here/build-windows}
"$here/scripts/deps.sh"

echo "== the Debian package"
# Debian's flags, read by CMake when it first configures the folder; for this build only.
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
CXXFLAGS="$(flags CXXFLAGS) $(flags CPPFLAGS)" LDFLAGS=$(flags LDFLAGS) \
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -rf "$dist"
mkdir -p "$dist"
"$here/packaging/debian/make-deb.sh" "$build" "$dist" >/dev/null

echo "== the Windows installer and zip"
WINDOWS_BUILD_DIR=$windows_build QM_BUILD_TESTS=OFF "$here/scripts/build-windows.sh"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
cp "$windows_build/quenmar-helpcentre-$version-windows-x86-setup.exe" \
   "$windows_build/quenmar-helpcentre-$version-windows-x86.zip" "$dist/"

(cd "$dist" && sha256sum -- *.deb *.exe *.zip >SHA256SUMS)
echo "== in $dist:"
(cd "$dist" && ls -l)
