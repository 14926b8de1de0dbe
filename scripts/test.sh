#!/usr/bin/env bash
# Builds the help centre and runs every test.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
"$here/scripts/deps.sh"
"$here/scripts/build.sh" -DQM_BUILD_TESTS=ON
cd "$build"
ctest --output-on-failure -j"$(nproc)"
