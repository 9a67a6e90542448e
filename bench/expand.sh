#!/usr/bin/env bash
# expand.sh [BUILD] [MEGABYTES]: times the expansion of a large one-file MSZIP cabinet with
# TCabReader and with Wine's own extrac32.exe (another cabinet.dll client) on the same file,
# alternating, and prints the ratio of the best times and the peak memory of both processes.
# A small cabinet is expanded too, to show that our peak memory does not grow with the file.
# Then the same reader expands one payload of Wine's 32-bit DLLs (64 MB, or less if there are
# fewer) packed as MSZIP and as LZX (window 2^21), alternating; goal: LZX at most 1.3x MSZIP.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-cab}" && pwd)
megabytes=${2:-256}
rounds=3

if [ "${CABRUN_IN_XVFB:-}" != 1 ]; then
  CABRUN_ARCH=${CABRUN_ARCH:-native} exec "$root/cmake/wine-session.sh" "$build" "$0" "$build" "$megabytes"
fi

# The Windows programs of the architecture that runs natively here (or CABRUN_ARCH).
arch_build=$CABRUN_ARCH_BUILD
cmake --build "$arch_build" --target expand_bench -j2 >/dev/null
echo "architecture: $CABRUN_ARCH, run $CABRUN_ARCH_HOW"
[ "$CABRUN_ARCH_HOW" = natively ] || echo "emulated: these figures are not comparable with native ones"

bench="$arch_build/bench/expand_bench.exe"
work=$(mktemp -d /tmp/expand_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
win() { echo "Z:$(echo "$1" | tr / '\\')"; }

# Base64 text of random bytes: compresses to about three quarters, like typical payloads.
text() { head -c "$1" < <(base64 -w 76 /dev/urandom); }
text "${megabytes}M" > "$work/big.bin"
text 16M > "$work/small.bin"
wine "$bench" make "$(win "$work/big.bin")" "$(win "$work/big.cab")"
wine "$bench" make "$(win "$work/small.bin")" "$(win "$work/small.cab")"
echo "cabinet: $(stat -c %s "$work/big.cab") bytes holding $(stat -c %s "$work/big.bin") bytes (MSZIP)"

now() { date +%s.%N; }
best_ours=999999; best_theirs=999999
for round in $(seq "$rounds"); do
  rm -rf "$work/ours" "$work/theirs"; mkdir "$work/theirs"
  t0=$(now)
  /usr/bin/time -f %M -o "$work/ours.rss" wine "$bench" expand "$(win "$work/big.cab")" "$(win "$work/ours")" > "$work/ours.txt"
  t1=$(now)
  /usr/bin/time -f %M -o "$work/theirs.rss" wine extrac32.exe /Y /E /L "$(win "$work/theirs")" "$(win "$work/big.cab")"
  t2=$(now)
  cmp "$work/big.bin" "$work/ours/big.bin"
  cmp "$work/big.bin" "$work/theirs/big.bin"
  ours=$(echo "$t1 - $t0" | bc); theirs=$(echo "$t2 - $t1" | bc)
  echo "round $round: TCabReader ${ours}s, extrac32 ${theirs}s; $(cat "$work/ours.txt")"
  best_ours=$(echo "if ($ours < $best_ours) $ours else $best_ours" | bc)
  best_theirs=$(echo "if ($theirs < $best_theirs) $theirs else $best_theirs" | bc)
done
echo "best of $rounds: TCabReader ${best_ours}s, extrac32 ${best_theirs}s, ratio $(echo "scale=3; $best_ours / $best_theirs" | bc)"
echo "peak RSS (whole Wine process): TCabReader $(cat "$work/ours.rss") KB, extrac32 $(cat "$work/theirs.rss") KB"

rm -rf "$work/ours"
small=$(wine "$bench" expand "$(win "$work/small.cab")" "$(win "$work/ours")")
echo "16 MB cabinet: $small"
echo "${megabytes} MB cabinet: $(cat "$work/ours.txt")"

# LZX against MSZIP, both through TCabReader and cabinet.dll.
dlls=
for folder in /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/wine/i386-windows; do
  [ -d "$folder" ] && dlls=$folder && break
done
(cat "$dlls"/*.dll || true) | head -c 64M > "$work/dlls.bin"
wine "$bench" make "$(win "$work/dlls.bin")" "$(win "$work/mszip.cab")" mszip
wine "$bench" make "$(win "$work/dlls.bin")" "$(win "$work/lzx.cab")" lzx
echo "DLL payload: $(stat -c %s "$work/dlls.bin") bytes; MSZIP cabinet $(stat -c %s "$work/mszip.cab"), LZX $(stat -c %s "$work/lzx.cab")"
best_mszip=999999; best_lzx=999999
for round in $(seq "$rounds"); do
  for kind in mszip lzx; do
    rm -rf "$work/out"
    ms=$(wine "$bench" expand "$(win "$work/$kind.cab")" "$(win "$work/out")" | sed 's/.* ms=\([0-9]*\).*/\1/')
    cmp "$work/dlls.bin" "$work/out/big.bin"
    echo "round $round: $kind ${ms} ms"
    if [ "$kind" = mszip ]; then [ "$ms" -lt "$best_mszip" ] && best_mszip=$ms; else [ "$ms" -lt "$best_lzx" ] && best_lzx=$ms; fi
  done
done
echo "best of $rounds: MSZIP ${best_mszip} ms, LZX ${best_lzx} ms, ratio LZX/MSZIP $(echo "scale=3; $best_lzx / $best_mszip" | bc)"
