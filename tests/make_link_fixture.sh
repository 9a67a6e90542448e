#!/bin/sh
# Makes DIR/tree/link, a symbolic link to DIR/target, which holds keep.txt.
set -e
rm -rf "$1"
mkdir -p "$1/target" "$1/tree"
echo precious > "$1/target/keep.txt"
ln -s ../target "$1/tree/link"
