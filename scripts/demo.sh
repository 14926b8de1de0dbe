#!/usr/bin/env bash
# demo.sh [--offline]: builds the help centre and starts it on a throw-away Wine prefix
# that holds a Quenmar Online installation (registry key, two accounts, game folder,
# settings file, cache files), with a stand-in for the game server listening on
# 127.0.0.1. Nothing outside the build folder is touched. Closing the window ends the demo
# and the stand-in. Without a display it runs on a virtual one and saves a picture of the
# window, naming the file.
#
# --offline runs the demo in a network of its own with only loopback up (root or user
# namespaces needed): the connection test's public hosts then fail at once instead of
# being looked up and pinged on the internet.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}

if [ "${1:-}" = --offline ]; then
  shift
  if [ "${QM_DEMO_OFFLINE:-}" != inside ]; then
    export QM_DEMO_OFFLINE=inside
    for how in "-n" "-r -n"; do
      # shellcheck disable=SC2086
      if unshare $how true 2>/dev/null; then
        # shellcheck disable=SC2086
        exec unshare $how "$0" --offline "$@"
      fi
    done
    echo "Cannot make a network namespace here (unshare -n and unshare -rn both failed)." >&2
    exit 1
  fi
  ip link set lo up
fi

"$here/scripts/deps.sh"
"$here/scripts/build.sh" -DQM_BUILD_TESTS=OFF
program=$build/app/quenmar-helpcentre

demo=$build/demo
prefix=$demo/wineprefix
rm -rf "$demo"
mkdir -p "$demo"

server=""
stop_server() {
  if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
}
trap stop_server EXIT

python3 "$here/tools/game_server_standin.py" --port-file "$demo/server.port" >"$demo/server.log" 2>&1 &
server=$!
for _ in $(seq 100); do
  [ -s "$demo/server.port" ] && break
  kill -0 "$server" 2>/dev/null || { echo "The game server stand-in did not start:" >&2; cat "$demo/server.log" >&2; exit 1; }
  sleep 0.1
done
[ -s "$demo/server.port" ] || { echo "The game server stand-in reported no port." >&2; exit 1; }
port=$(cat "$demo/server.port")

python3 "$here/tools/quenmar_prefix.py" "$prefix" --port "$port"
export WINEPREFIX=$prefix

cat <<EOF
Quenmar Online HelpCentre demo
  Wine prefix:       $prefix
  game installation: C:\\Program Files\\QuenmarOnline (accounts: alice, Bob the Brave)
  game server:       a stand-in listening on 127.0.0.1:$port (log: $demo/server.log)
Try the pages: the connection test connects to the stand-in, the cleaner empties the
prefix's cache folders, the password page lists the two accounts.
EOF

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "Close the window to end the demo."
  "$program"
else
  "$here/scripts/screenshot.sh" "${SCREENSHOT:-$build/demo.png}" "$program"
fi
