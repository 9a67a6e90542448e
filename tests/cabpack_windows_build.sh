#!/bin/sh
# cabpack_windows_build.sh CABPACK_EXE ARCH WORK PROBE_STUB RUNNER_STUB HOST_CABPACK: the Windows build of cabpack
# (of the architecture ARCH), run under Wine, makes the same packages as the host build did (from the probe and
# from the runner of ARCH, which lies beside it as its default stub; MSZIP and LZX), also with Japanese names on a
# system of another code page, and replaces an existing output; it refuses links; it reads package files as the
# host build does, with the same messages for their mistakes.
set -eu
exe=$1 arch=$2 work=$3 probe_stub=$4 runner_stub=$5 host=$6
beside=$(dirname "$exe")/cabrun.exe
[ "$arch" = x64 ] && beside=$(dirname "$exe")/cabrun-x64.exe
export SOURCE_DATE_EPOCH=946728000
rm -f "$work/win_pkg.exe" "$work/win_cabrun_pkg.exe" "$work/win_あ.exe" "$work/win_lzx_pkg.exe"
for round in 1 2; do
  wine "$exe" --source "Z:$work/src" --run 'bin\payload.exe' --on HideWhileRunning --off AllowExtractSwitch \
    --stub "Z:$probe_stub" -o "Z:$work/win_pkg.exe"
  cmp "$work/probe_pkg.exe" "$work/win_pkg.exe"
done
# The runner beside cabpack.exe is its default stub.
[ "$beside" -ef "$runner_stub" ] || cmp "$beside" "$runner_stub"
wine "$exe" --source "Z:$work/src" --run bin/payload.exe --on HideWhileRunning --off AllowExtractSwitch \
  --arch "$arch" -o "Z:$work/win_cabrun_pkg.exe"
cmp "$work/cabrun_pkg.exe" "$work/win_cabrun_pkg.exe"
wine "$exe" --source "Z:$work/src" --run bin/payload.exe --compression lzx:16 --stub "Z:$runner_stub" \
  -o "Z:$work/win_lzx_pkg.exe"
cmp "$work/lzx_pkg.exe" "$work/win_lzx_pkg.exe"
# Names are opened through the wide functions: Japanese ones work on a system whose ANSI code
# page is 1252 (Wine under C.UTF-8), in the source folder and in the output's name.
LANG=C.UTF-8 LC_ALL=C.UTF-8 wine "$exe" --source "Z:$work/src_ja" --run setup.exe --codepage 932 --arch "$arch" -o "Z:$work/win_あ.exe"
cmp "$work/cabrun_ja.exe" "$work/win_あ.exe"
# A link in the source folder is refused, with nothing written (Wine shows links to folders as
# reparse points, not links to files).
rm -rf "$work/src_link" "$work/win_link.exe"
mkdir -p "$work/src_link"
cp "$work/src2/setup.exe" "$work/src_link/"
ln -s "$work/src" "$work/src_link/linked"
if wine "$exe" --source "Z:$work/src_link" --run setup.exe --arch "$arch" -o "Z:$work/win_link.exe" 2> "$work/win_link.err"; then
  echo "cabpack.exe packed a link" >&2; exit 1
fi
grep -q '"linked" is a link' "$work/win_link.err"
[ ! -e "$work/win_link.exe" ]

# One package file serves both builds: saved by Notepad (byte order mark, CR LF), with comments
# after values, it makes the package the switches made; each mistake gives exit code 2 and the
# same message, line and key, from either build.
rm -rf "$work/pkgfiles"
mkdir "$work/pkgfiles"
cd "$work/pkgfiles"
printf '\357\273\277; made by both builds\r\nsource = ../src\r\nrun = bin\\payload.exe ; the payload\r\n'\
'on = HideWhileRunning ; no window\r\noff = AllowExtractSwitch\t; no /extract\r\n' > good.ini
"$host" build good.ini --stub "$probe_stub" -o host_good.exe > /dev/null
wine "$exe" build good.ini --stub "Z:$probe_stub" -o win_good.exe > /dev/null
cmp "$work/probe_pkg.exe" host_good.exe
cmp "$work/probe_pkg.exe" win_good.exe
same_mistake() {  # FILE-TEXT MESSAGE
  printf "$1" > bad.ini
  rc=0; "$host" build bad.ini --stub "$probe_stub" 2> host.err || rc=$?
  wrc=0; wine "$exe" build bad.ini --stub "Z:$probe_stub" 2> win.err.crlf || wrc=$?
  tr -d '\r' < win.err.crlf > win.err
  [ "$rc" = 2 ] && [ "$wrc" = 2 ] || { echo "exit codes $rc and $wrc for: $1" >&2; exit 1; }
  grep -qF "cabpack: $2" host.err || { echo "host: expected \"$2\"" >&2; cat host.err >&2; exit 1; }
  cmp host.err win.err
}
same_mistake 'source = ../src\n[package]\nrun = bin/payload.exe\n' \
  'the package file "bad.ini", line 2: a package file has no sections'
same_mistake 'source = ../src\r\nproduct-version = 1.2.3\r\n' \
  'the package file "bad.ini", line 2: product-version: four numbers a.b.c.d'
same_mistake 'compression = zip ; smaller\n' 'the package file "bad.ini", line 1: compression: none, mszip'
same_mistake 'source = ../src\nrun bin/payload.exe\n' 'the package file "bad.ini", line 2: "run bin/payload.exe" is not'
same_mistake 'sorce = ../src\n' 'the package file "bad.ini", line 1: unknown name "sorce"; did you mean source?'
same_mistake 'source = ../src\ntitle = A\ntitle = "B"\n' 'the package file "bad.ini", line 3: "title" is given on line 2 already'
same_mistake 'source = ../src\nrun = bin/payload.exe\n' 'name the package to write: output = FILE in the package file'

# A package file's signing command runs in the file's folder: there it finds the signed program
# that it copies over {in}, and a tool named by a relative path (cabpack.exe is started from the
# folder above).
mkdir -p sign/tools
cp "$WINEPREFIX/drive_c/windows/system32/cmd.exe" sign/tools/
openssl req -x509 -newkey rsa:2048 -nodes -keyout sign/key.pem -out sign/cert.pem -days 2 -subj /CN=throw-away 2>/dev/null
osslsigncode sign -certs sign/cert.pem -key sign/key.pem -in "$probe_stub" -out sign/signed.exe > /dev/null
printf 'source = ../../src\nrun = bin/payload.exe\nsign-command = tools/cmd.exe /c copy /y signed.exe {in}\n' > sign/signed.ini
wine "$exe" build sign/signed.ini --stub "Z:$probe_stub" -o win_signed.exe > /dev/null
cmp sign/signed.exe win_signed.exe
