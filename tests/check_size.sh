#!/bin/sh
# Fails when the runner, stripped, is larger than the limit: every package carries it.
strip=$1 exe=$2 limit=$3
copy=$(mktemp) || exit 1
trap 'rm -f "$copy"' EXIT
"$strip" -o "$copy" "$exe" || exit 1
size=$(stat -c%s "$copy")
echo "stripped size: $size bytes, limit $limit"
[ "$size" -le "$limit" ]
