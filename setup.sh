#!/usr/bin/env bash
# Installs, from Debian's packages, everything cabrun needs to build, test and pack.
# Safe to run again: it only installs what is missing. Must run as root.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  g++-mingw-w64-i686 gcc-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386
  xvfb xauth x11-apps imagemagick
  googletest
  fonts-ipafont-gothic
  zlib1g-dev libz-mingw-w64-dev
  cabextract gcab
  libinih-dev dpkg-dev
  file
  python3-pefile
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi

dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
