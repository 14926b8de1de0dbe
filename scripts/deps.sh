#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the help centre need,
# when any of them is missing. Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-qpa-plugins
  # the Lutris launcher's game files (YAML)
  libyaml-cpp-dev
  fonts-liberation
  xvfb xauth x11-utils imagemagick
  iproute2 util-linux
  python3 python3-gi gir1.2-atspi-2.0 at-spi2-core dbus desktop-file-utils
  # the Debian package and its checks
  dpkg-dev lintian appstream libcap2-bin
  # fuzzing (libFuzzer from Debian's clang) and the benchmarks' window timer and memory peaks
  clang-14 libclang-rt-14-dev libxcb1-dev time
)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null; then
  sudo=(sudo)
else
  echo "These packages are missing and neither root nor sudo is at hand: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
