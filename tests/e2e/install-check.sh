#!/usr/bin/env bash
# install-check.sh BUILD_DIR: installs the built help centre into a scratch prefix with
# `cmake --install` and checks what a desktop needs from it: the program, the desktop entry
# and the icon at each size of the hicolor theme, all under the name quenmar-helpcentre.
set -euo pipefail
build=$1
root=$(mktemp -d "${TMPDIR:-/tmp}/qm-install.XXXXXX")
trap 'rm -rf "$root"' EXIT
prefix=$root/usr
cmake --install "$build" --prefix "$prefix" >/dev/null

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

[ -x "$prefix/bin/quenmar-helpcentre" ] || fail "bin/quenmar-helpcentre is not installed as a program"

entry=$prefix/share/applications/quenmar-helpcentre.desktop
if [ -f "$entry" ]; then
  value() { sed -n "s/^$1=//p" "$entry"; }
  [ "$(head -n1 "$entry")" = "[Desktop Entry]" ] || fail "the desktop entry does not start with [Desktop Entry]"
  [ "$(value Type)" = Application ] || fail "Type is '$(value Type)'"
  [ "$(value Name)" = "Quenmar HelpCentre" ] || fail "Name is '$(value Name)'"
  [ "$(value Icon)" = quenmar-helpcentre ] || fail "Icon is '$(value Icon)'"
  case ";$(value Categories)" in *";Game;"*) ;; *) fail "Categories '$(value Categories)' lack Game" ;; esac
  exec_line=$(value Exec)
  program=${exec_line%% *}
  [ -x "$prefix/bin/$program" ] || fail "Exec names '$program', which is not installed in bin"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
  else
    echo "note: desktop-file-validate is not installed; the entry was checked by key only"
  fi
else
  fail "share/applications/quenmar-helpcentre.desktop is missing"
fi

icons=$prefix/share/icons/hicolor
for size in 16 48; do
  icon=$icons/${size}x${size}/apps/quenmar-helpcentre.png
  if [ -f "$icon" ]; then
    # A PNG's width and height are the big-endian words at bytes 16 and 20.
    dims=$(od -An -tu1 -j16 -N8 "$icon" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}')
    [ "$dims" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $dims"
  else
    fail "the ${size}x${size} icon is missing"
  fi
done
svg=$icons/scalable/apps/quenmar-helpcentre.svg
if [ -f "$svg" ]; then
  grep -q '<svg' "$svg" || fail "the scalable icon is no SVG"
else
  fail "the scalable icon is missing"
fi

[ "$failures" -eq 0 ] || exit 1
echo "installed: $(cd "$prefix" && find . -type f | sort | tr '\n' ' ')"
