#!/bin/sh
# check_reproducible.sh SOURCE TOOLCHAIN HOST_TOOLS BUILD_TYPE RUNNER: fails unless a second build
# of the runner gives the same bytes. The second build copies the sources (what git would commit:
# tracked and untracked files, ignored ones left out) into other folders, with names of other
# lengths, configures them with the same toolchain, build type and host tools, builds only the
# runner and compares it with RUNNER byte for byte. Run it with the SOURCE_DATE_EPOCH of the build
# (or none, as the build). Exits 77 (skipped) where the sources are no git checkout.
src=$1 toolchain=$2 host=$3 type=$4 runner=$5
if ! git -C "$src" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  echo "$src is no git checkout: cannot tell the sources from the rest"
  exit 77
fi
tmp=$(mktemp -d "${TMPDIR:-/tmp}/cabrun-again.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT
copy=$tmp/sources-elsewhere build=$tmp/the-second-build
mkdir "$copy" || exit 1
# Files deleted but still tracked are listed too: only the ones present are copied.
(cd "$src" && git ls-files -z --cached --others --exclude-standard | xargs -0 sh -c \
  'for f; do [ -f "$f" ] && printf "%s\0" "$f"; done' _ | tar --null -T - -cf -) | tar -C "$copy" -xf - || exit 1
case $toolchain in
  "$src"/*) toolchain=$copy/${toolchain#"$src"/} ;;
esac
log=$tmp/log
if ! cmake -S "$copy" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE="$type" \
       -DCABRUN_HOST_TOOLS_DIR="$host" >"$log" 2>&1 ||
   ! cmake --build "$build" --target cabrun -j2 >>"$log" 2>&1; then
  tail -n 30 "$log"
  echo "the second build failed"
  exit 1
fi
again=$build/runner/cabrun.exe
if cmp -s "$runner" "$again"; then
  echo "$runner: the second build, in $build, gives the same $(stat -c%s "$again") bytes"
  exit 0
fi
echo "$runner and the second build's runner differ (offset, then the bytes in octal):"
cmp -l "$runner" "$again" | head -n 20
exit 1
