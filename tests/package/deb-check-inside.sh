#!/bin/bash
# Runs inside the throw-away root of deb-check.sh, as root: installs the package given,
# starts the program and removes it again, in both echo settings of the kernel, and
# configures it again after the setting changed.
set -euo pipefail
deb=$1
name=quenmar-helpcentre
export DEBIAN_FRONTEND=noninteractive
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
range=/proc/sys/net/ipv4/ping_group_range

# A copy of this system may hold the help centre already.
if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q installed; then
  dpkg --purge "$name" >/dev/null
fi

xvfb=""
trap '[ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null' EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>/tmp/display >/tmp/xvfb.log 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s /tmp/display ] && break; sleep 0.1; done
[ -s /tmp/display ] || { echo "FAIL: Xvfb did not start" >&2; cat /tmp/xvfb.log >&2; exit 1; }
display=":$(head -n1 /tmp/display)"

install_package() {
  apt-get install -y -q --no-install-recommends "$deb" >/tmp/apt.log 2>&1 \
    || { cat /tmp/apt.log >&2; echo "FAIL: apt-get install $deb" >&2; exit 1; }
  dpkg-query -W -f='${Status}' "$name" | grep -q 'install ok installed' || fail "the package is not installed"
}

remove_package() {
  local files
  files=$(dpkg -L "$name" | grep -v '^/\.$')
  apt-get purge -y -q "$name" >/tmp/apt.log 2>&1 || { cat /tmp/apt.log >&2; fail "apt-get purge"; }
  if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q installed; then
    fail "the package is still installed after apt-get purge"
  fi
  local left=()
  while read -r f; do
    # The shared folders (/usr/bin, /usr/share/...) stay, the package's own go.
    if [ -f "$f" ] || [ -L "$f" ]; then left+=("$f"); fi
    case "$f" in */doc/$name) [ -e "$f" ] && left+=("$f") ;; esac
  done <<<"$files"
  [ ${#left[@]} -eq 0 ] || fail "left behind after purge: ${left[*]}"
}

start_program() {
  # As a player would: an unprivileged user, on the virtual display, on an empty prefix.
  local home
  home=$(mktemp -d /tmp/home.XXXXXX)
  chown nobody "$home"
  setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env \
    env HOME="$home" WINEPREFIX="$home/prefix" DISPLAY="$display" QT_QPA_PLATFORM=xcb \
    XDG_RUNTIME_DIR="$home" "$program" >/tmp/program.log 2>&1 &
  local pid=$! shown=""
  for _ in $(seq 300); do
    if xwininfo -display "$display" -root -tree 2>/dev/null | grep -q '"Quenmar Helpcentre"'; then
      shown=yes
      break
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -n "$shown" ]; then
    echo "  the window \"Quenmar Helpcentre\" opened on the virtual display"
    # Bit 13 of the effective set: CAP_NET_RAW.
    local effective
    effective=$(sed -n 's/^CapEff:\t//p' "/proc/$pid/status")
    if [ "$1" = with-cap ]; then
      [ $(( (16#$effective >> 13) & 1 )) -eq 1 ] || fail "the running program lacks cap_net_raw (CapEff $effective)"
    fi
  else
    fail "the program opened no window \"Quenmar Helpcentre\""
    cat /tmp/program.log >&2
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -rf "$home"
}

echo "-- no unprivileged echo allowed (ping_group_range \"1 0\")"
echo "1 0" >"$range"
install_package
program=$(command -v "$name" || true)
[ "$program" = "/usr/bin/$name" ] || fail "the program found on PATH is '$program'"
caps=$(getcap "/usr/bin/$name" 2>/dev/null || true)
case "$caps" in
  *cap_net_raw=ep*) echo "  $caps" ;;
  *) fail "the program was not granted cap_net_raw: '$caps'" ;;
esac
start_program with-cap

echo "-- unprivileged echo allowed later, and the package configured again"
echo "0 2147483647" >"$range"
dpkg-reconfigure -fnoninteractive "$name" >/tmp/reconfigure.log 2>&1 || { cat /tmp/reconfigure.log >&2; fail "dpkg-reconfigure"; }
caps=$(getcap "/usr/bin/$name" 2>/dev/null || true)
[ -z "$caps" ] || fail "the program keeps capabilities it no longer needs: '$caps'"
echo "  no capabilities"
remove_package

echo "-- unprivileged echo allowed (ping_group_range \"0 2147483647\")"
echo "0 2147483647" >"$range"
install_package
caps=$(getcap "/usr/bin/$name" 2>/dev/null || true)
[ -z "$caps" ] || fail "the program was granted capabilities it does not need: '$caps'"
echo "  no capabilities"
remove_package

[ "$failures" -eq 0 ] || exit 1
echo "installed, started and removed cleanly"
