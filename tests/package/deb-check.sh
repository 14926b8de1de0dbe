#!/usr/bin/env bash
# deb-check.sh BUILD_DIR: makes the Debian package from the built tree and checks it with
# Debian's own tools, then as a player meets it:
#  - lintian reports no error and no warning; appstreamcli and desktop-file-validate accept
#    the software centre entry and the menu entry; the control file carries the version of
#    the build, computed dependencies and "Suggests: wine";
#  - in a throw-away root (an overlay over this system, in a mount and network namespace of
#    its own, with only loopback) `apt-get install ./…deb` installs it; the program is
#    found on PATH; where the kernel allows no unprivileged echo it holds cap_net_raw, and
#    started by an unprivileged user on a virtual display it opens its window with that
#    capability; where unprivileged echo is allowed it gets none, and `dpkg-reconfigure`
#    takes it back once the setting allows it; `apt-get purge` leaves
#    none of its files behind.
# Exits 77 (skipped) with a message where the throw-away root cannot be made (not root, no
# namespaces or no overlay file system); the checks of the package file itself have run by then.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
name=quenmar-helpcentre

if [ "${1:-}" = --inside ]; then
  # In the new namespaces, as root.
  deb=$2 work=$3
  root=$work/root
  mount -t tmpfs tmpfs "$work/layer"
  mkdir "$work/layer/upper" "$work/layer/work"
  mount -t overlay overlay -o "lowerdir=/,upperdir=$work/layer/upper,workdir=$work/layer/work" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs tmpfs "$root/tmp"
  mount -t tmpfs tmpfs "$root/run"
  cp "$deb" "$root/tmp/"
  cp "$here/deb-check-inside.sh" "$root/tmp/"
  ip link set lo up
  exec chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 /bin/bash /tmp/deb-check-inside.sh "/tmp/$(basename "$deb")"
fi

build=$(cd "$1" && pwd)
for tool in lintian appstreamcli desktop-file-validate dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "deb-check: $tool is missing (run scripts/deps.sh)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/qm-deb-check.XXXXXX")
trap 'rm -rf "$work"' EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

deb=$("$source_dir/packaging/debian/make-deb.sh" "$build" "$work/dist")
echo "== $(basename "$deb")"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ "$(basename "$deb")" = "${name}_${version}_amd64.deb" ] || fail "the package is named $(basename "$deb"), not for version $version"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = "$name" ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', the build's is $version"
[ "$(field Suggests)" = wine ] || fail "Suggests is '$(field Suggests)'"
case "$(field Depends)" in
  *libqt6widgets6*libstdc++6*) ;;
  *) fail "Depends '$(field Depends)' lacks the libraries the program links" ;;
esac

echo "== lintian"
lintian_status=0
lintian_report=$(lintian --fail-on error,warning --display-level '>=warning' "$deb" 2>&1) || lintian_status=$?
grep -v '^running with root privileges' <<<"$lintian_report" || true
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors or warnings"

dpkg-deb -x "$deb" "$work/unpacked"
usr=$work/unpacked/usr
metainfo=$usr/share/metainfo/online.quenmar.HelpCentre.metainfo.xml
echo "== appstreamcli validate --no-net"
if [ -f "$metainfo" ]; then
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects the software centre entry"
  grep -q "<release version=\"$version\"" "$metainfo" || fail "the software centre entry's release is not $version"
  grep -q '<launchable type="desktop-id">quenmar-helpcentre.desktop</launchable>' "$metainfo" \
    || fail "the software centre entry does not launch quenmar-helpcentre.desktop"
  grep -q '<project_license>MIT</project_license>' "$metainfo" || fail "the project licence is not MIT"
else
  fail "share/metainfo/online.quenmar.HelpCentre.metainfo.xml is missing"
fi
echo "== desktop-file-validate"
desktop-file-validate "$usr/share/applications/$name.desktop" || fail "desktop-file-validate rejects the entry"
page=$usr/share/man/man6/$name.6.gz
if [ -f "$page" ]; then
  zcat "$page" | grep -q WINEPREFIX || fail "the manual page does not name WINEPREFIX"
  zcat "$page" | grep -q "^\.TH QUENMAR-HELPCENTRE 6 .*$version" || fail "the manual page's heading lacks section 6 or $version"
else
  fail "the section-6 manual page is missing"
fi
grep -q "Permission is hereby granted" "$usr/share/doc/$name/copyright" 2>/dev/null \
  || fail "the copyright file lacks the licence text"
[ "$failures" -eq 0 ] || exit 1

echo "== install, start and remove in a throw-away root"
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: installing the package into a throw-away root needs root (an overlay over /)"
  exit 77
fi
mkdir "$work/layer" "$work/root"
if ! unshare -m -n true 2>/dev/null; then
  echo "SKIP: cannot make a mount and network namespace here (unshare -m -n failed)"
  exit 77
fi
if ! unshare -m sh -c "mount -t tmpfs tmpfs '$work/layer' && mkdir '$work/layer/u' '$work/layer/w' &&
    mount -t overlay overlay -o 'lowerdir=/,upperdir=$work/layer/u,workdir=$work/layer/w' '$work/root'" 2>/dev/null; then
  echo "SKIP: cannot mount an overlay over / here"
  exit 77
fi
unshare -m -n "$0" --inside "$deb" "$work"
