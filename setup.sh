#!/usr/bin/env bash
# Installs, from Debian's packages, everything cabrun needs to build, test and pack, for both
# Windows architectures: 64-bit Wine runs everywhere; 32-bit Wine (wine32) installs everywhere
# and runs natively where the kernel runs 32-bit programs. Where it does not (or with
# CABRUN_X86=emulated), qemu-user 10 from the release's backports suite is installed too, through
# which cmake/x86-route.sh starts the 32-bit Wine loader. Safe to run again: it only installs what
# is missing. Must run as root, and never inside x86-route.sh's namespace.
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

# The 32-bit Wine loader needs qemu-user where it cannot start natively. Debian 12's own qemu
# (7.2) cannot carry it (Wine's start-up never ends under it); version 10 from backports can.
x86_needs_qemu() {
  [ "${CABRUN_X86:-}" = emulated ] && return 0
  ! /usr/lib/wine/wine --version >/dev/null 2>&1
}
qemu_ready() {
  local major
  major=$(qemu-i386 --version 2>/dev/null | sed -n '1s/.*version \([0-9]*\)\..*/\1/p')
  [ -n "$major" ] && [ "$major" -ge 10 ]
}

# The address and keyring of the machine's apt source for the release itself (main component),
# as "URI KEYRING": its backports suite lies at the same address.
release_source() {
  local codename=$1 found
  found=$(awk -v suite="$codename" '
    BEGIN { RS = ""; FS = "\n" }
    $0 ~ ("Suites:[^\n]*[ \t]" suite "([ \t]|\n|$)") && $0 ~ "Components:[^\n]*main" {
      uri = ""; key = ""
      for (i = 1; i <= NF; i++) {
        if ($i ~ /^URIs:/) { sub(/^URIs:[ \t]*/, "", $i); split($i, u, /[ \t]+/); uri = u[1] }
        if ($i ~ /^Signed-By:/) { sub(/^Signed-By:[ \t]*/, "", $i); key = $i }
      }
      if (uri != "") { print uri " " key; exit }
    }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
  [ -z "$found" ] || { echo "$found"; return; }
  # One-line entries: deb [signed-by=KEY] URI SUITE main...
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | awk -v suite="$codename" '
    $1 == "deb" {
      key = ""; i = 2
      if ($2 ~ /^\[/) {
        for (; i <= NF; i++) { if ($i ~ /signed-by=/) key = $i; if ($i ~ /\]$/) break }
        i++
        sub(/.*signed-by=/, "", key); sub(/\]$/, "", key)
      }
      if ($(i + 1) == suite && / main( |$)/) { print $i " " key; exit }
    }'
}

# Installs qemu-user from the release's backports suite through a private apt configuration: the
# machine's own sources plus backports, a preference that lets nothing but qemu-user come from
# there, and lists kept apart. The machine's sources and lists are left as they are.
install_backports_qemu() {
  local codename source uri keyring private
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  source=$(release_source "$codename" | head -n 1)
  uri=${source%% *}
  keyring=${source#"$uri"}; keyring=${keyring# }
  if [ -z "$uri" ]; then
    echo "setup.sh: no apt source of Debian $codename (main) found, so qemu-user cannot come from $codename-backports" >&2
    return 1
  fi
  private=$(mktemp -d)
  chmod 755 "$private"  # apt downloads as its own user
  mkdir -p "$private/sources" "$private/lists/partial"
  cp /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list "$private/sources/" 2>/dev/null || true
  [ ! -f /etc/apt/sources.list ] || cp /etc/apt/sources.list "$private/sources/machine.list"
  {
    printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\n' "$uri" "$codename"
    [ -z "$keyring" ] || printf 'Signed-By: %s\n' "$keyring"
  } > "$private/sources/backports.sources"
  printf 'Package: *\nPin: release n=%s-backports\nPin-Priority: -1\n\nPackage: qemu-user\nPin: release n=%s-backports\nPin-Priority: 990\n' \
    "$codename" "$codename" > "$private/preferences"
  : > "$private/none.list"
  local apt=(apt-get -qq -o Dir::Etc::SourceList="$private/none.list" -o Dir::Etc::SourceParts="$private/sources"
    -o Dir::Etc::Preferences="$private/preferences" -o Dir::State::Lists="$private/lists")
  local rc=0
  { "${apt[@]}" update && DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y --no-install-recommends qemu-user \
    >/dev/null; } || rc=$?
  rm -rf "$private"
  [ $rc -eq 0 ] || return $rc
  qemu_ready || { echo "setup.sh: qemu-user from $codename-backports is older than 10" >&2; return 1; }
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  test_locales
  if ! x86_needs_qemu || qemu_ready; then exit 0; fi
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: installing these packages needs root: ${missing[*]:-qemu-user (10, from backports)}" >&2
  exit 1
fi

if [ ${#missing[@]} -gt 0 ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  test_locales
fi
if x86_needs_qemu && ! qemu_ready; then install_backports_qemu; fi
