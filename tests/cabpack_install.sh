#!/bin/sh
# cabpack_install.sh HOST_BUILD WORK: the Debian package of cabpack, unpacked into a root of its
# own, holds cabpack and the stubs of both architectures where cabpack finds them, its manual
# page, bash completion and copyright file, names the maintainer the build was given and
# recommends bash-completion, is the same bytes when made again, and packs a folder given only a
# package file.
set -eu
host=$1 work=$2
fail() { echo "cabpack_install: $*" >&2; exit 1; }

rm -rf "$work" && mkdir -p "$work/root" "$work/release/payload/docs" "$work/elsewhere"
rm -f "$host"/cabpack_*.deb
cmake --build "$host" --target package >/dev/null
deb=$(ls "$host"/cabpack_*.deb)
dpkg-deb -c "$deb"
dpkg-deb -f "$deb" Package Version Depends Maintainer
case $(dpkg-deb -f "$deb" Maintainer) in *@localhost* | '') fail "no real maintainer" ;; esac
[ "$(dpkg-deb -f "$deb" Maintainer)" = "$(sed -n 's/^CABPACK_MAINTAINER:STRING=//p' "$host/CMakeCache.txt")" ] ||
  fail "the maintainer is not the build's CABPACK_MAINTAINER"
[ "$(dpkg-deb -f "$deb" Recommends)" = bash-completion ] || fail "the package does not recommend bash-completion"
dpkg -x "$deb" "$work/root"
[ -x "$work/root/usr/bin/cabpack" ] || fail "no usr/bin/cabpack in the package"
for stub in cabrun.exe cabrun-x64.exe; do
  [ -f "$work/root/usr/share/cabrun/$stub" ] || fail "no usr/share/cabrun/$stub in the package"
  cmp "$work/root/usr/share/cabrun/$stub" "$host/$stub"
done

# The manual page (gzipped, without a warning from troff), the completion, the copyright file.
man=$work/root/usr/share/man/man1/cabpack.1.gz
gzip -t "$man" || fail "no usr/share/man/man1/cabpack.1.gz in the package"
gzip -dc "$man" | grep -q '^\\fB\\-\\-sign\\-command\\fR' || fail "the manual page lacks --sign-command"
warnings=$(gzip -dc "$man" | troff -man -ww -z 2>&1)
[ -z "$warnings" ] || fail "troff warns about the manual page: $warnings"
completion=$work/root/usr/share/bash-completion/completions/cabpack
complete_line() {  # complete_line EXPECTED WORD...: what completing the last word offers
  expected=$1; shift
  bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _cabpack; echo "${COMPREPLY[*]}"' \
    sh "$completion" "$@" | grep -qx -e "$expected" || fail "completing \"$*\" does not give \"$expected\""
}
complete_line --sign-command cabpack --sig
complete_line HideWhileRunning cabpack --source . --on Hide
complete_line 'x86 x64' cabpack --arch ''
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$work/root/usr/share/doc/cabpack/copyright" || fail "no usr/share/doc/cabpack/copyright in the package"

# Made again later from the same sources, with every input newer: the same bytes.
cp "$deb" "$work/first.deb"
sleep 1
touch "$host/cabpack" "$host/cabrun.exe" "$host/cabrun-x64.exe"
rm -f "$deb"
cmake --build "$host" --target package >/dev/null
cmp "$deb" "$work/first.deb" || fail "the package differs when made again"

printf 'MZ setup\r\n' > "$work/release/payload/setup.exe"
printf 'read me\r\n' > "$work/release/payload/docs/readme.txt"
printf 'backup\r\n' > "$work/release/payload/docs/readme.txt.bak"
cat > "$work/release/update.ini" <<'INI'
; the package, kept beside its payload
source = payload
run = setup.exe
on = HideWhileRunning
exclude = *.bak
output = update.exe
INI
cd "$work/elsewhere"
PATH="$work/root/usr/bin:$PATH" cabpack build ../release/update.ini
cabpack=$work/root/usr/bin/cabpack
"$cabpack" --list "$work/release/update.exe" > "$work/list.txt"
grep -q 'setup.exe *<- run after extraction' "$work/list.txt" || fail "the flagged file is missing"
grep -q 'HideWhileRunning *on *(set)' "$work/list.txt" || fail "the option is missing"
grep -q 'bak' "$work/list.txt" && fail "an excluded file went in"
"$cabpack" --save-cab "$work/release/update.exe" -o "$work/update.cab" -q
cabextract -l "$work/update.cab" | grep -q 'docs/readme.txt' || fail "cabextract does not find the files"

# The installed x64 stub, chosen by the package file's arch.
printf 'arch = x64\n' >> "$work/release/update.ini"
sed -i 's/^output = .*/output = update64.exe/' "$work/release/update.ini"
"$cabpack" build "$work/release/update.ini" -q
"$cabpack" --list "$work/release/update64.exe" | grep -qF 'x64 runner (PE32+)' || fail "the x64 package is not an x64 runner"
