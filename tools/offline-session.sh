#!/usr/bin/env bash
# offline-session.sh COMMAND [ARGS...]: runs COMMAND in a network of its own in which only
# the loopback interface is up, on a virtual X display of its own, inside a D-Bus session
# with the accessibility bus switched on for Qt. Whatever the help centre does there (its
# connection test looks public hosts up by name) reaches no other machine: a name lookup
# fails at once.
#
# Exits 77 with a message when no network namespace can be made (neither as root nor
# through a user namespace); otherwise with COMMAND's status.
set -euo pipefail

if [ "${QM_OFFLINE_SESSION:-}" != inside ]; then
  [ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }
  for tool in unshare ip Xvfb dbus-run-session; do
    command -v "$tool" >/dev/null || { echo "offline-session: $tool is missing (run scripts/deps.sh)" >&2; exit 1; }
  done
  export QM_OFFLINE_SESSION=inside
  # As root a plain network namespace; otherwise one inside a user namespace.
  for how in "-n" "-r -n"; do
    # shellcheck disable=SC2086
    if unshare $how true 2>/dev/null; then
      # shellcheck disable=SC2086
      exec unshare $how "$0" "$@"
    fi
  done
  echo "SKIP: cannot make a network namespace here (unshare -n and unshare -rn both failed);" \
       "the help centre is only run where it cannot reach the outside network." >&2
  exit 77
fi

ip link set lo up
# Make sure nothing but loopback is up: a route to anywhere else would be a leak.
if ip -o link show up | grep -v ': lo:' | grep -q .; then
  echo "offline-session: an interface other than lo is up in the new namespace" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-offline.XXXXXX")
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number itself and reports it; the number's lock file lives
# in the shared /tmp, so no other X server on this machine is disturbed. Without -noreset
# the server would reset whenever its last client left, refusing whoever connects then.
Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 300); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || { echo "offline-session: Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/display" ] || { echo "offline-session: Xvfb reported no display" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

# The D-Bus daemons complain that they may not raise their file limit; that is harmless.
status=0
dbus-run-session -- "$@" || status=$?
exit "$status"
