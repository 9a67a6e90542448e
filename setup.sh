#!/usr/bin/env bash
# Installs, from Debian's packages, everything cabrun needs to build, test and pack, for both
# Windows architectures: 64-bit Wine runs everywhere; 32-bit Wine (wine32) installs everywhere
# but runs only where the kernel runs 32-bit programs. Safe to run again: it only installs what
# is missing. Must run as root.
set -euo pipefail

packages=(
  cmake make g++
  g++-mingw-w64-i686 gcc-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 gcc-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386
  xvfb xauth x11-apps imagemagick
  googletest
  fonts-ipafont-gothic
  zlib1g-dev libz-mingw-w64-dev
  cabextract gcab p7zip-full
  dpkg-dev
  file groff-base
  openssl osslsigncode
  python3-pefile
  locales
)

# File names outside ASCII reach the Unix side from Wine only through a glibc UTF-8 locale: the
# tests' Japanese systems run under ja_JP.UTF-8, their Western ones under en_US.UTF-8.
locale_made() {
  locale -a 2>/dev/null | grep -qix "$1.utf-\\?8" && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup.sh: generating the $1.UTF-8 locale needs root" >&2
    return 1
  fi
  localedef -i "$1" -f UTF-8 "$1.UTF-8"
}
test_locales() { locale_made ja_JP && locale_made en_US; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  test_locales
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi

dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
test_locales
