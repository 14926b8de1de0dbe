#!/usr/bin/env bash
# Builds the help centre and its tests for Windows (scripts/build-windows.sh) and tests
# them under Wine, in a throw-away prefix on a virtual display:
#  - the test suites built for Windows (settings reader, the Windows backends against
#    Wine's own registry, files, echo service, sockets, system facts and shell);
#  - the real quenmar-helpcentre.exe: the game's key written with Wine's own `reg add`
#    shows the installation; with no key the folder prompt opens and the key exists,
#    empty, afterwards; a number as "Directory" shows "Invalid data type for 'Directory'";
#  - the installer (tools/windows_installer_check.py): the silent install puts the program
#    into Program Files with a Start-menu shortcut and an uninstall entry, the program starts
#    from the shortcut, and the silent uninstall leaves drive C: and the registry as before.
# Pictures of the pages go to docs/windows-*.png with WINDOWS_SCREENSHOTS=1. Everything
# under Wine runs in a network of its own with only loopback up (tools/offline-session.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${WINDOWS_BUILD_DIR:-$here/build-windows}

if [ "${1:-}" != --offline ]; then
  # Wine for 32-bit programs comes from the i386 architecture.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    if [ "$(id -u)" -eq 0 ]; then dpkg --add-architecture i386; else sudo dpkg --add-architecture i386; fi
  fi
  "$here/scripts/deps.sh" wine wine32 fonts-wine nsis xvfb xauth x11-utils xdotool imagemagick \
    tesseract-ocr tesseract-ocr-eng python3 iproute2 util-linux dbus
  QM_BUILD_TESTS=ON WINDOWS_BUILD_DIR=$build "$here/scripts/build-windows.sh"

  # The rest runs in a network of its own with only loopback up, on a virtual display of
  # its own: the program's connection test looks public hosts up, and must reach nobody.
  status=0
  "$here/tools/offline-session.sh" "$0" --offline || status=$?
  if [ "$status" -eq 77 ]; then
    echo "SKIP: the Windows tests run only where a network namespace can be made"
    exit 0
  fi
  exit "$status"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-wine-test.XXXXXX")
cleanup() {
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all
# No Mono or Gecko installers: the prefix is made without asking anyone.
export WINEDLLOVERRIDES="mscoree,mshtml="

echo "== a Wine prefix for the tests in $WINEPREFIX"
wineboot -i >"$work/wineboot.log" 2>&1
wineserver -w

echo "== test suites under Wine"
(cd "$build" && ctest --output-on-failure)

echo "== the real program under Wine"
python3 "$here/tools/windows_exe_check.py" --exe "$build/app/quenmar-helpcentre.exe" \
  --work "$work" ${WINDOWS_SCREENSHOTS:+--screenshots "$here/docs"}

echo "== the installer under Wine"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
installer=$build/quenmar-helpcentre-$version-windows-x86-setup.exe
[ -f "$installer" ] || { echo "FAIL: $installer was not built (makensis missing?)" >&2; exit 1; }
python3 "$here/tools/windows_installer_check.py" --installer "$installer" \
  --exe "$build/app/quenmar-helpcentre.exe" --version "$version" --work "$work"
