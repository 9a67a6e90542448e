#!/bin/sh
# make_seeds.sh CABPACK: makes the harnesses' seed corpora (tests/fuzz/corpus/<harness>), a few KB
# each, from small packages that CABPACK packs into a small stub built here with MinGW (version,
# icon, manifest), one of them signed by osslsigncode with a throw-away key. Run it again only to
# change the seeds; the corpora are kept in the repository, with the inputs that once failed
# (named after their fault), which it leaves alone.
set -eu
cabpack=$1
here=$(cd "$(dirname "$0")" && pwd)
corpus=$here/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

printf 'void __stdcall Start(void) {}\n' > stub.c
convert -size 16x16 xc:red icon.ico
convert -size 256x256 xc:navy png.ico
cat > stub.rc <<'RC'
1 ICON "icon.ico"
1 VERSIONINFO FILEVERSION 1,2,3,4 PRODUCTVERSION 1,2,3,4
BEGIN
  BLOCK "StringFileInfo" BEGIN BLOCK "040904B0" BEGIN VALUE "ProductName", "Seed" END END
  BLOCK "VarFileInfo" BEGIN VALUE "Translation", 0x409, 1200 END
END
1 24 { "<assembly xmlns=""urn:schemas-microsoft-com:asm.v1"" manifestVersion=""1.0""/>" }
RC
i686-w64-mingw32-windres stub.rc -O coff -o stub.res
i686-w64-mingw32-gcc -Os -s -nostdlib -mwindows -Wl,-e,_Start@0 stub.c stub.res -o stub.exe

mkdir -p src/bin
printf 'MZ setup' > src/setup.exe
printf 'caf\303\251\r\n' > "src/bin/caf$(printf '\303\251').txt"
export SOURCE_DATE_EPOCH=946728000
"$cabpack" -q --source src --run setup.exe --stub stub.exe --compression none -o none.exe
"$cabpack" -q --source src --run setup.exe --stub stub.exe --on HideWhileRunning --arguments '/quiet "a b"' \
  --title 'Board firmware 2.1' -o mszip.exe
"$cabpack" -q --source src --run setup.exe --stub stub.exe --compression lzx:15 --icon png.ico --product-name Board \
  --file-version 2.1.0.0 --company Morvane -o lzx.exe
openssl req -x509 -newkey rsa:1024 -nodes -keyout key.pem -out cert.pem -days 2 -subj '/CN=seed' 2>/dev/null
"$cabpack" -q --source src --run setup.exe --stub stub.exe --compression none -o signed.exe \
  --sign-command "sh -c 'osslsigncode sign -certs cert.pem -key key.pem -in \"\$0\" -out \"\$1\" > /dev/null' {in} {out}"
for p in none mszip lzx; do "$cabpack" -q --save-cab $p.exe -o $p.cab; done
(cd src && gcab -c -z ../gcab.cab setup.exe bin/*)

mkdir -p "$corpus"/package_list "$corpus"/pe_resources "$corpus"/cabinet_table "$corpus"/icon_file \
  "$corpus"/version_resource "$corpus"/option_list "$corpus"/signature "$corpus"/package_file "$corpus"/texts
cp none.exe mszip.exe lzx.exe signed.exe none.cab "$corpus"/package_list/
cp stub.exe lzx.exe "$corpus"/pe_resources/
cp none.cab mszip.cab lzx.cab gcab.cab "$corpus"/cabinet_table/
cp icon.ico png.ico "$corpus"/icon_file/
# Resource data and the certificate table, as pefile finds them.
/usr/bin/python3 - "$corpus" <<'PY'
import sys
import pefile

corpus = sys.argv[1]
def resources(path):
    pe = pefile.PE(path)
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                yield kind.id, str(name.name or name.id), pe.get_data(data.OffsetToData, data.Size)
for kind, name, data in resources("mszip.exe"):
    if kind == 16:
        open(corpus + "/version_resource/stub", "wb").write(data)
    if name == "OPT":
        open(corpus + "/option_list/mszip", "wb").write(data)
for kind, name, data in resources("lzx.exe"):
    if kind == 16:
        open(corpus + "/version_resource/packed", "wb").write(data)
pe = pefile.PE("signed.exe")
security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
open(corpus + "/signature/seed", "wb").write(open("signed.exe", "rb").read()[security.VirtualAddress:][:security.Size])
PY
chmod -R a-x+X "$corpus"
printf 'HideWindow=1\0ExtractSwitch=0\0Arguments=/s\0Title=\303\251\0Other\0\0' > "$corpus"/option_list/entries
printf '\357\273\277; a package file\r\nsource = payload\r\nrun = setup.exe\r\non = HideWhileRunning ; no window\r\n'\
'exclude = *.pdb\r\nproduct-version = 2.1.0.0\r\nicon = logo.ico\r\noutput = ../out/update.exe\r\n' > "$corpus"/package_file/notepad
printf 'source = a\n[section]\nsorce = b\ncompression = lzx:16\nsign-command = sh -c "x" {in}\n' > "$corpus"/package_file/mistakes
printf 'evil\342\200\256txt.exe\0C:\\out&evil&\\p.exe\0"a b\\"\\\\\0\033[2A\302\233\0caf\351' > "$corpus"/texts/names
printf "osslsigncode sign -in {in} -out '{out}' \"x y\"" > "$corpus"/texts/command
