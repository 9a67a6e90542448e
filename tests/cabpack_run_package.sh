#!/bin/sh
# cabpack_run_package.sh PACKAGE MARKER: runs a runner package under Wine; its payload writes
# the arguments it got into MARKER, the last of them.
set -eu
package=$1 marker=$2
rm -f "$marker"
wine "$package" "Z:$marker"
[ -f "$marker" ] || { echo "the package did not run its payload" >&2; exit 1; }
cat "$marker"
grep -qx "Z:$marker" "$marker"
