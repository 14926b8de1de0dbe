#!/usr/bin/env bash
# Builds and starts the help centre. Without a display it runs under a virtual one and
# saves a screenshot of the window instead, naming the file.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
"$here/scripts/deps.sh"
"$here/scripts/build.sh" -DQM_BUILD_TESTS=OFF
program=$build/app/quenmar-helpcentre

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$program"
fi

shot=${SCREENSHOT:-$build/screenshot.png}
exec "$here/scripts/screenshot.sh" "$shot" "$program"
