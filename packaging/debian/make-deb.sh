#!/usr/bin/env bash
# make-deb.sh BUILD_DIR OUT_DIR: makes the Debian package quenmar-helpcentre_<version>_amd64.deb
# from a built Linux tree, into OUT_DIR, and prints its path. The files are what
# `cmake --install` puts under /usr, the program stripped, the manual page and changelog
# compressed; the dependencies are those dpkg-shlibdeps finds for the program.
set -euo pipefail
build=$(cd "$1" && pwd)
out=$2
here=$(cd "$(dirname "$0")" && pwd)
name=quenmar-helpcentre

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null

version=$(sed -n 's/^Version: //p' "$build/packaging/debian/control")
[ -n "$version" ] || { echo "make-deb: no version in $build/packaging/debian/control" >&2; exit 1; }

# As Debian's own packages are: no symbols, no compiler notes, manual pages compressed.
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$root/usr/bin/$name"
gzip -9n "$root/usr/share/man/man6/$name.6"
doc=$root/usr/share/doc/$name
install -d "$doc"
install -m 644 "$here/copyright" "$doc/copyright"
gzip -9nc "$build/packaging/debian/changelog" >"$doc/changelog.gz"
chmod -R u=rwX,go=rX "$root/usr"

# dpkg-shlibdeps looks for debian/control in the folder it runs in.
mkdir -p "$work/src/debian" "$root/DEBIAN"
printf 'Source: %s\n\nPackage: %s\nArchitecture: amd64\n' "$name" "$name" >"$work/src/debian/control"
depends=$(cd "$work/src" && dpkg-shlibdeps -O "$root/usr/bin/$name" | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "make-deb: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/\${shlibs:Depends}/$depends/" -e "s/\${Installed-Size}/$size/" \
  "$build/packaging/debian/control" >"$root/DEBIAN/control"
install -m 755 "$here/postinst" "$root/DEBIAN/postinst"
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

mkdir -p "$out"
deb=$(cd "$out" && pwd)/${name}_${version}_amd64.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
