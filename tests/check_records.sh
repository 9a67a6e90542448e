#!/bin/sh
# Fails on a local variable of a platform type (DWORD, WIN32_FIND_DATAW, ...) in the runner's
# sources declared without an initialiser. A platform call may leave fields unwritten (Wine's
# FindFirstFile never writes a find record's reparse tag), and no compiler warning sees a record
# passed out by address and read afterwards. Locals are the names that begin in lower case.
root=$1
found=$(grep -rnE '^\s+(const\s+)?[A-Z][A-Z0-9_]*\s+[a-z][A-Za-z0-9_]*(\[[^]]*\])?(\s*,\s*[a-z][A-Za-z0-9_]*(\[[^]]*\])?)*;' \
  "$root/runner" "$root/sys" "$root/cabinet" "$root/ui" "$root/probes" --include='*.cpp' --include='*.h')
[ -z "$found" ] && exit 0
echo "platform records declared without an initialiser ({} fills them with zeros):"
echo "$found"
exit 1
