#!/bin/sh
# cabpack_windows_build.sh CABPACK_EXE ARCH WORK PROBE_STUB RUNNER_STUB HOST_CABPACK: the Windows build of cabpack
# (of the architecture ARCH), run under Wine, makes the same packages as the host build did (from the probe and
# from the runner of ARCH, which lies beside it as its default stub; MSZIP and LZX), also with Japanese names on a
# system of another code page, and replaces an existing output; it refuses links; it reads package files as the
# host build does, with the same messages for their mistakes; it hands a signing tool {in} and {out} whole, and
# refuses a batch file or cmd.exe as one.
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

# A package file's signing command runs in the file's folder, and a tool named by a relative path
# is found there (cabpack.exe is started from the folder above): the payload program, as the tool,
# writes the arguments it got into its last, a file named relative to the folder it works in.
mkdir -p sign/tools
cp "$work/src2/setup.exe" sign/tools/
rm -f sign/args.txt
printf 'source = ../../src\nrun = bin/payload.exe\nsign-command = tools/setup.exe {in} args.txt\n' > sign/signed.ini
wine "$exe" build sign/signed.ini --stub "Z:$probe_stub" -o win_signed.exe > /dev/null 2>&1 || true
[ -f sign/args.txt ] || { echo "the signing tool did not run in the package file's folder" >&2; exit 1; }
# A signing tool gets {in} and {out} as one argument each, whatever the output's folder is called,
# and is a program: a batch file, which Windows runs through cmd.exe (where "out&evil&" in a
# folder's name ran evil), and cmd.exe itself are refused before they start, with nothing written.
cd "$work"
signed="$work/out&evil&"
rm -rf "$signed" evil_ran
mkdir "$signed"
printf '@echo off\r\necho ran> evil_ran\r\n' > evil.cmd
printf '@echo off\r\ncopy /y %%1 %%2 > nul\r\n' > sign.cmd
sign() {  # SIGN-COMMAND MESSAGE
  rc=0; wine "$exe" --source "Z:$work/src2" --run setup.exe --arch "$arch" --sign-command "$1" \
    -o "Z:$signed/p.exe" 2> sign.err.crlf || rc=$?
  tr -d '\r' < sign.err.crlf > sign.err
  [ "$rc" = 1 ] || { echo "exit code $rc for --sign-command $1" >&2; cat sign.err >&2; exit 1; }
  grep -qF "cabpack: the signing command$2" sign.err || { echo "expected \"$2\"" >&2; cat sign.err >&2; exit 1; }
  [ ! -e evil_ran ] || { echo "--sign-command $1 ran evil" >&2; exit 1; }
  [ -z "$(ls -A "$signed")" ] || { echo "--sign-command $1 left files" >&2; ls -A "$signed" >&2; exit 1; }
}
sign 'sign.cmd {in} {out}' ': "sign.cmd" is not a program (Windows runs a batch file through cmd.exe), whose own rules'
sign 'SIGN.CMD. {in} {out}' ': "SIGN.CMD." is not a program'
sign 'cmd /c sign.cmd {in} {out}' ': "cmd" is cmd.exe, whose own rules let a file name holding & or % run other commands'
# The payload program, as a signing tool, writes the arguments it got, one a line, into the last.
sign "Z:$work/src2/setup.exe {in} {out} Z:$work/sign_args.txt" ' left no signed program in {out}'
tr -d '\r' < sign_args.txt > sign_args
[ "$(wc -l < sign_args)" = 3 ] && grep -q '^Z:.*out&evil&.p\.exe\.cabpack-[0-9a-f]*\.tmp$' sign_args \
  && [ "$(grep -c 'out&evil&.p\.exe' sign_args)" = 2 ] || { echo "the signing tool got other arguments:" >&2; cat sign_args >&2; exit 1; }
