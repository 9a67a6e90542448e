#!/bin/sh
# check_imports.sh OBJDUMP EXE ARCH: fails when the executable is not a GUI program for ARCH (x86:
# PE32 i386, x64: PE32+ x86-64) or imports a DLL that is not one of the system's known DLLs (always
# loaded from the system folder). advapi32 carries the security descriptors with which the
# elevated run makes its folders and files private.
objdump=$1 exe=$2 arch=$3
allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll msvcrt.dll"
headers=$("$objdump" -p "$exe") || exit 1
case $arch in
  x86) format=pei-i386 magic=010b ;;
  x64) format=pei-x86-64 magic=020b ;;
  *) echo "unknown architecture $arch"; exit 1 ;;
esac
echo "$headers" | grep -q "file format $format" || { echo "not a $format file"; exit 1; }
echo "$headers" | grep -Eq "^Magic[[:space:]]+$magic" || { echo "its optional header is not $magic"; exit 1; }
echo "$headers" | grep -Eq 'Subsystem[[:space:]]+0*2[[:space:]]' || { echo "not a GUI executable"; exit 1; }
dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || { echo "no imports found"; exit 1; }
bad=0
for dll in $dlls; do
  case " $allowed " in
    *" $dll "*) echo "ok: $dll" ;;
    *) echo "not allowed: $dll"; bad=1 ;;
  esac
done
exit $bad
