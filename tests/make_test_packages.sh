#!/bin/sh
# make_test_packages.sh CABPACK STUB PROBE PROGRAMS OUT
# Builds the packages of the end-to-end tests with the real packager around the real runner:
# the probe payload (PROBE), the script payloads from PROGRAMS, into the folder OUT.
# Cabinets that the packager rightly refuses to take (no file flagged, damaged) are made by
# patching a packaged cabinet in place.
set -eu
# Byte patterns below match bytes, not characters.
export LC_ALL=C
cabpack=$1 stub=$2 probe=$3 programs=$4 out=$5

rm -rf "$out"
mkdir -p "$out"
work=$out/sources
mkdir -p "$work"
size=

# pack NAME RUN [cabpack options...]: packages the folder $work/NAME as NAME.exe.
pack() {
  name=$1 run=$2
  shift 2
  "$cabpack" --source "$work/$name" --run "$run" --stub "$stub" "$@" -o "$out/$name.exe"
}

# source NAME FILE...: a source folder holding the probe as probe.exe and small text files;
# with size set, each text file is that many bytes long.
source_folder() {
  name=$1
  shift
  mkdir -p "$work/$name"
  cp "$probe" "$work/$name/probe.exe"
  for file in "$@"; do
    mkdir -p "$work/$name/$(dirname "$file")"
    if [ -n "$size" ]; then
      yes "$file of $name" | head -c "$size" >"$work/$name/$file"
    else
      echo "$file of $name" >"$work/$name/$file"
    fi
  done
}

source_folder normal data/one.txt data/two.txt
pack normal probe.exe

source_folder single
pack single probe.exe

source_folder stored
pack stored probe.exe --compression none

source_folder nowait
pack nowait probe.exe --on StartWithoutWaiting

source_folder hide
pack hide probe.exe --on HideWhileRunning

source_folder noswitch
pack noswitch probe.exe --off AllowExtractSwitch --off AllowLanguageSwitch --off AllowQuietSwitch

source_folder passcode
pack passcode probe.exe --on PassExitCode

source_folder startfolder
pack startfolder probe.exe --on RunInStartFolder

source_folder window
pack window probe.exe --on ShowPayloadWindow

# A title in UTF-8 that neither code page 1252 nor 932 holds whole.
source_folder title
pack title probe.exe --title "Board firmware 2.1 (基板, café)"

# Fixed payload arguments: with quotes, empty, long ("a b" 5000 times: as long as cabpack takes, and
# fits the command line).
quoted_words() { yes '"a b"' | head -n "$1" | paste -sd' '; }
for fixed in 'args:/q "a b" "" c\"d' 'argsempty:' "argslong:$(quoted_words 5000)"; do
  source_folder "${fixed%%:*}"
  pack "${fixed%%:*}" probe.exe --arguments "${fixed#*:}"
done

source_folder machine
pack machine probe.exe --on ReportBidWord --on ReportRomText7 --on ReportBidText8 --on ReportBidText4 \
  --on ReportFlagValue --on ReportPowerStatus

# The report's name is taken by a folder.
source_folder blocked probe.env/keep.txt
pack blocked probe.exe

many=""
i=1
while [ $i -le 40 ]; do
  many="$many files/file$i.txt"
  i=$((i + 1))
done
# Files as large as the probe together, so that each moves the bar.
size=20000
# shellcheck disable=SC2086
source_folder many $many
size=
pack many probe.exe
cp -r "$work/many" "$work/fast"
pack fast probe.exe --on SkipFilePauses

mkdir -p "$work/nested/bin"
cp "$probe" "$work/nested/bin/probe.exe"
echo readme >"$work/nested/readme.txt"
pack nested 'bin\probe.exe'

# A vendor's names, stored in UTF-8 (no --codepage): German, Japanese, and Korean, which neither
# code page 1252 nor 932 holds.
source_folder vendor Überprüfung.txt ファームウェア更新.txt 한국어/설명.txt
pack vendor probe.exe

for script in js:probe.js vbs:probe.vbs upper:PROBE.VBS cmd:probe.cmd bat:probe.bat; do
  name=script_${script%%:*} file=${script#*:}
  mkdir -p "$work/$name"
  extension=$(echo "${file##*.}" | tr '[:upper:]' '[:lower:]')
  cp "$programs/probe_script.$(echo "$extension" | sed s/bat/cmd/)" "$work/$name/$file"
  pack "$name" "$file"
done

# Programs that cannot be started: no program for the extension, no program in the file.
mkdir -p "$work/noassoc" "$work/notexe"
echo "no program opens this" >"$work/noassoc/payload.xyz"
pack noassoc payload.xyz
echo "not a program" >"$work/notexe/setup.exe"
pack notexe setup.exe

# The bare runner carries neither a cabinet nor an option list.
cp "$stub" "$out/nocab.exe"

# --- Patched packages -------------------------------------------------------------------------

u8() { od -An -tu1 -j "$2" -N1 "$1" | tr -d ' '; }
u16() { echo $(($(u8 "$1" "$2") + 256 * $(u8 "$1" $(($2 + 1))))); }
u32() { echo $(($(u16 "$1" "$2") + 65536 * $(u16 "$1" $(($2 + 2))))); }
# poke FILE OFFSET BYTES: BYTES as printf escapes, written over the file at OFFSET.
poke() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null; }
# The offset of the package's one cabinet: the one "MSCF" followed by a header of version 1.3.
cabinet_at() {
  found=""
  for offset in $(grep -obUa MSCF "$1" | cut -d: -f1); do
    if [ "$(u32 "$1" $((offset + 4)))" = 0 ] && [ "$(u8 "$1" $((offset + 24)))" = 3 ] &&
      [ "$(u8 "$1" $((offset + 25)))" = 1 ]; then
      [ -z "$found" ] || { echo "$1: more than one cabinet" >&2; exit 1; }
      found=$offset
    fi
  done
  [ -n "$found" ] || { echo "$1: no cabinet" >&2; exit 1; }
  echo "$found"
}

# No file flagged: the one file's attributes lose the run bit (0x40).
cp "$out/single.exe" "$out/noflag.exe"
cab=$(cabinet_at "$out/noflag.exe")
entry=$((cab + $(u32 "$out/noflag.exe" $((cab + 16)))))
attributes=$(u16 "$out/noflag.exe" $((entry + 14)))
[ $((attributes & 64)) = 64 ] || { echo "single.exe: the probe is not flagged" >&2; exit 1; }
poke "$out/noflag.exe" $((entry + 14)) "$(printf '\\%03o' $((attributes & 191)))"

# Damaged cabinet header: no signature.
cp "$out/single.exe" "$out/badheader.exe"
poke "$out/badheader.exe" "$(cabinet_at "$out/badheader.exe")" 'XXXX'

# Damaged compressed data: the first block's deflate stream, right after its "CK", made invalid.
cp "$out/single.exe" "$out/baddata.exe"
cab=$(cabinet_at "$out/baddata.exe")
block=$((cab + $(u32 "$out/baddata.exe" $((cab + 36)))))
poke "$out/baddata.exe" $((block + 10)) '\377\377\377\377\377\377\377\377'

# A changed file in a cabinet that is still valid: a byte of the probe in the uncompressed block
# changed and the block's checksum set to 0, "none" (as someone who re-packs would leave it).
cp "$out/stored.exe" "$out/baddigest.exe"
cab=$(cabinet_at "$out/baddigest.exe")
block=$((cab + $(u32 "$out/baddigest.exe" $((cab + 36)))))
poke "$out/baddigest.exe" "$block" '\000\000\000\000'
poke "$out/baddigest.exe" $((block + 8 + 100)) 'X'

# No digests: the resource's name (a counted UTF-16 string) no longer reads "SUM".
cp "$out/single.exe" "$out/nosum.exe"
name=$(grep -obUaP '\x03\x00S\x00U\x00M\x00' "$out/nosum.exe" | cut -d: -f1)
[ "$(echo "$name" | wc -l)" = 1 ] && [ -n "$name" ] || { echo "single.exe: no single digest list name" >&2; exit 1; }
poke "$out/nosum.exe" $((name + 6)) 'X'

# Damaged option list: its closing NULs overwritten, so the last entry runs to the resource's end
# and reads "<key>=<on>xx", which is not the switching-on value.
cp "$out/hide.exe" "$out/badoptions.exe"
root=$(dirname "$0")/..
key=$(sed -n 's/.*X(HideWhileRunning, "\([^"]*\)".*/\1/p' "$root/format/option_table.h")
on=$(sed -n 's/.*{PsOptionOn, "\(.*\)"}.*/\1/p' "$root/format/protected_plain.h")
options=$(grep -obUa "$key=$on" "$out/badoptions.exe" | cut -d: -f1)
[ -n "$options" ] || { echo "hide.exe: no option entry $key=$on" >&2; exit 1; }
poke "$out/badoptions.exe" $((options + ${#key} + 1 + ${#on})) 'xx'

# A cabinet resource cut short: the size in its resource data entry (RVA, size, code page 0,
# reserved 0) made smaller, to 0 (an empty resource) or to half the cabinet.
resize_cabinet() {
  cab=$(cabinet_at "$1")
  size=$(u32 "$1" $((cab + 8)))
  bytes=$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((size & 255)) $((size >> 8 & 255)) $((size >> 16 & 255)) \
    $((size >> 24 & 255)))
  entries=$(grep -obUaP "$bytes\\x00{8}" "$1" | cut -d: -f1)
  [ "$(echo "$entries" | wc -l)" = 1 ] && [ -n "$entries" ] || { echo "$1: no single resource entry" >&2; exit 1; }
  new=$2
  poke "$1" "$entries" "$(printf '\\%03o\\%03o\\%03o\\%03o' $((new & 255)) $((new >> 8 & 255)) \
    $((new >> 16 & 255)) $((new >> 24 & 255)))"
}
cp "$out/single.exe" "$out/emptycab.exe"
resize_cabinet "$out/emptycab.exe" 0
cp "$out/many.exe" "$out/halfcab.exe"
resize_cabinet "$out/halfcab.exe" $(($(u32 "$out/many.exe" $(($(cabinet_at "$out/many.exe") + 8))) / 2))

# No option list: the resource's name (a counted UTF-16 string) no longer reads "OPT".
cp "$out/hide.exe" "$out/noopt.exe"
name=$(grep -obUaP '\x03\x00O\x00P\x00T\x00' "$out/noopt.exe" | cut -d: -f1)
[ "$(echo "$name" | wc -l)" = 1 ] && [ -n "$name" ] || { echo "hide.exe: no single option list name" >&2; exit 1; }
poke "$out/noopt.exe" $((name + 6)) 'X'

# An option list of NULs only: its one entry overwritten.
cp "$out/hide.exe" "$out/nulopt.exe"
options=$(grep -obUa "$key=$on" "$out/nulopt.exe" | cut -d: -f1)
poke "$out/nulopt.exe" "$options" "$(printf '\\000%.0s' $(seq $((${#key} + 1 + ${#on}))))"

rm -rf "$work"
echo "packages in $out:"
ls "$out"
