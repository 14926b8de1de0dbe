#!/usr/bin/env bash
# page-screenshots.sh [FOLDER]: builds the help centre and takes a picture of each of its
# pages on the demo prefix, in a network of its own with only loopback up, on a virtual
# display: page-0.png to page-4.png and screenshot.png in FOLDER (default docs/).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
out=$(mkdir -p "${1:-$here/docs}" && cd "${1:-$here/docs}" && pwd)
"$here/scripts/deps.sh"
"$here/scripts/build.sh" -DQM_BUILD_TESTS=OFF

# The accessibility client comes with the system's Python (python3-gi, gir1.2-atspi-2.0).
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3

exec "$here/tools/offline-session.sh" "$python" "$here/tools/page_screenshots.py" \
  "$build/app/quenmar-helpcentre" "$out"
