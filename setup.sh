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

# Japanese file names made on the Unix side reach Wine only through the glibc ja_JP.UTF-8 locale.
japanese_locale() {
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8' && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup.sh: generating the ja_JP.UTF-8 locale needs root" >&2
    return 1
  fi
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  japanese_locale
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
japanese_locale
