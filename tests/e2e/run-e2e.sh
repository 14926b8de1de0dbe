#!/usr/bin/env bash
# run-e2e.sh PROGRAM [unittest arguments]: runs the end-to-end tests on the help centre
# executable PROGRAM in a network of its own (only loopback up), on a virtual display with
# a D-Bus session and the accessibility bus. Exits 77 (skipped) where no network namespace
# can be made: the connection test must never reach the outside network.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 PROGRAM [unittest arguments]" >&2; exit 2; }

# The accessibility client comes with the system's Python (python3-gi, gir1.2-atspi-2.0),
# which another python3 earlier on PATH may not see.
python=""
for candidate in /usr/bin/python3 python3; do
  if "$candidate" -c 'import gi; gi.require_version("Atspi", "2.0"); from gi.repository import Atspi' 2>/dev/null; then
    python=$candidate
    break
  fi
done
[ -n "$python" ] || { echo "No python3 with the AT-SPI bindings (python3-gi, gir1.2-atspi-2.0): run scripts/deps.sh" >&2; exit 1; }
command -v xwininfo >/dev/null || { echo "xwininfo is missing (x11-utils): run scripts/deps.sh" >&2; exit 1; }

exec "$root/tools/offline-session.sh" "$python" "$here/test_helpcentre.py" "$@"
