#!/bin/sh
# cabpack_make_packages.sh CABPACK ARCH PROBE PAYLOAD WORK OBJDUMP: makes the packages the Wine
# tests of ARCH (x86 or x64) run, and checks on the host what needs no Windows: same bytes twice,
# the default stub of the architecture, the relocations kept, the cabinet taken out again (read by
# cabextract), --cab unchanged, --list. The repacked probe carries its own version texts and an
# icon made by ImageMagick; cabpack.cmake hands the same texts to the probe, which reads them back
# through Windows.
set -eu
cabpack=$1 arch=$2 probe=$3 payload=$4 work=$5 objdump=$6
stub=$(dirname "$cabpack")/cabrun.exe
[ "$arch" = x64 ] && stub=$(dirname "$cabpack")/cabrun-x64.exe
fail() { echo "cabpack_make_packages: $*" >&2; exit 1; }

chmod -R u+w "$work" 2>/dev/null || true
rm -rf "$work"
mkdir -p "$work/src/bin" "$work/src/docs/deep" "$work/src2"
cp "$payload" "$work/src/bin/payload.exe"
printf 'read me\r\n' > "$work/src/docs/readme.txt"
chmod a-w "$work/src/docs/readme.txt"
seq 1 40000 > "$work/src/docs/numbers.txt"
head -c 300000 /dev/urandom > "$work/src/docs/deep/random.bin"
printf 'x' > "$work/src/.hidden"
: > "$work/src/empty.txt"
cp "$payload" "$work/src2/setup.exe"
echo two > "$work/src2/two.txt"

export SOURCE_DATE_EPOCH=946728000
pack() { "$cabpack" --source "$work/src" --run bin/payload.exe --on HideWhileRunning --off allowextractswitch --arch "$arch" "$@"; }
pack --stub "$probe" -o "$work/probe_pkg.exe"
pack --stub "$probe" -o "$work/probe_pkg_again.exe"
cmp "$work/probe_pkg.exe" "$work/probe_pkg_again.exe" || fail "two runs gave different bytes"

# Packing a package again replaces its cabinet and option list.
convert -size 16x16 xc:red -size 32x32 xc:lime -size 48x48 xc:blue -size 256x256 xc:navy "$work/probe.ico"
"$cabpack" --source "$work/src2" --run setup.exe --on ReportPowerStatus --compression none \
  --product-name "Probe Product" --product-version 2.5.0.17 --file-version 2.5.0.16 --company "Morvane Test" \
  --copyright "(c) 2026 Morvane" --description "Probe package" --original-filename probe-update.exe \
  --icon "$work/probe.ico" --stub "$work/probe_pkg.exe" -o "$work/probe_repkg.exe"

# The real runner, named and by default.
pack --stub "$stub" -o "$work/cabrun_pkg.exe"
pack -o "$work/cabrun_default.exe"
cmp "$work/cabrun_pkg.exe" "$work/cabrun_default.exe" || fail "the default stub is not the runner beside cabpack"

# The runner's relocations move behind the new resources; read back, they must be the same.
relocations() { "$objdump" -p "$1" | sed -n '/^PE File Base Relocations/,/^The .rsrc/p' | grep -v '^The .rsrc'; }
relocations "$stub" > "$work/relocations.stub"
relocations "$work/cabrun_pkg.exe" > "$work/relocations.pkg"
[ -s "$work/relocations.stub" ] || fail "objdump shows no relocations in the runner"
cmp "$work/relocations.stub" "$work/relocations.pkg" || fail "the relocations changed"

# A runner package packed again with other files, its own icon and version: it has to run the new payload.
"$cabpack" --source "$work/src2" --run setup.exe --icon "$work/probe.ico" --product-name "Probe Runner" \
  --file-version 1.2.3.4 --stub "$work/cabrun_pkg.exe" -o "$work/cabrun_repkg.exe"

# A Japanese name, for the Windows build to pack the same on a system of another code page.
mkdir -p "$work/src_ja"
cp "$payload" "$work/src_ja/setup.exe"
echo kana > "$work/src_ja/あ.txt"
"$cabpack" --source "$work/src_ja" --run setup.exe --codepage 932 --arch "$arch" -o "$work/cabrun_ja.exe"

"$cabpack" --save-cab "$work/cabrun_pkg.exe" -o "$work/taken.cab"
cabextract -l "$work/taken.cab"
cabextract -q -d "$work/taken" "$work/taken.cab"
diff -r "$work/src" "$work/taken" || fail "cabextract does not give back the source files"

# LZX: cabextract gives the files back, and the real runner runs such a package (cabpack.cmake).
"$cabpack" --source "$work/src" --run bin/payload.exe --compression lzx:16 --arch "$arch" -o "$work/lzx_pkg.exe"
"$cabpack" --save-cab "$work/lzx_pkg.exe" -o "$work/lzx.cab"
cabextract -q -d "$work/taken_lzx" "$work/lzx.cab"
diff -r "$work/src" "$work/taken_lzx" || fail "cabextract does not give back the files of an LZX package"
"$cabpack" --source "$work/src2" --run setup.exe --compression lzx --arch "$arch" -o "$work/cabrun_lzx.exe"

"$cabpack" --cab "$work/taken.cab" --stub "$stub" -o "$work/from_cab.exe"
"$cabpack" --save-cab "$work/from_cab.exe" -o "$work/taken_again.cab"
cmp "$work/taken.cab" "$work/taken_again.cab" || fail "--cab did not embed the cabinet unchanged"

"$cabpack" --list "$work/probe_pkg.exe" | tee "$work/list.txt"
grep -q 'HideWhileRunning  *on  *(set)' "$work/list.txt" || fail "--list misses the option"
grep -q 'bin\\payload.exe *<- run after extraction' "$work/list.txt" || fail "--list misses the flagged file"
grep -q 'KEEP' "$work/list.txt" || fail "--list misses the probe's own resource"
case $arch in x86) runner="x86 runner (PE32)" ;; x64) runner="x64 runner (PE32+)" ;; esac
grep -qF "$runner" "$work/list.txt" || fail "--list does not name the architecture: $runner"
if "$cabpack" --list "$work/probe_pkg.exe" > /dev/full; then fail "--list to a full device succeeded"; fi
