#!/usr/bin/env bash
# pack_bench.sh [BUILD]: packs a folder of many files and a folder with one large file with
# cabpack (MSZIP) and, on the same input, with gcab -c -z; prints time and size side by side.
# Goal: the cabinet no larger than gcab's, the time no more than 1.5 times gcab's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
cabpack=$build/host/cabpack
stub=$build/runner/cabrun.exe
[ -x "$cabpack" ] && [ -f "$stub" ] || { echo "build cabpack and cabrun first ($build)" >&2; exit 1; }
work=$(mktemp -d /tmp/pack_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Inputs from a fixed seed: text-like and binary-like content, as firmware packages carry.
python3 - "$work" <<'PY'
import os, random, sys
work = sys.argv[1]
rng = random.Random(1234)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 9))) for _ in range(3000)]
def text(n):
    out, size = [], 0
    while size < n:
        line = ' '.join(rng.choice(words) for _ in range(rng.randint(4, 14))) + '\r\n'
        out.append(line); size += len(line)
    return ''.join(out)[:n].encode()
def binary(n):  # half repetitive tables, half noise
    half = n // 2
    table = bytes((i * 7 + (i >> 8)) & 0xFF for i in range(4096))
    return (table * (half // 4096 + 1))[:half] + rng.randbytes(n - half)
many = os.path.join(work, 'many')
for i in range(3000):
    folder = os.path.join(many, 'part%02d' % (i % 40))
    os.makedirs(folder, exist_ok=True)
    size = rng.choice([200, 1500, 6000, 20000, 70000])
    with open(os.path.join(folder, 'file%04d.%s' % (i, 'txt' if i % 3 else 'bin')), 'wb') as f:
        f.write(text(size) if i % 3 else binary(size))
with open(os.path.join(many, 'setup.exe'), 'wb') as f: f.write(binary(50000))
large = os.path.join(work, 'large')
os.makedirs(large)
with open(os.path.join(large, 'firmware.bin'), 'wb') as f:
    for _ in range(64):
        f.write(text(1 << 20) if rng.random() < 0.5 else binary(1 << 20))
PY

seconds() { date +%s.%N; }
printf '%-6s %8s %10s  %-28s %12s %12s %12s\n' input files MB tool seconds cabinet package
for input in many:setup.exe large:firmware.bin; do
  run=${input#*:} input=${input%%:*}
  dir=$work/$input
  files=$(find "$dir" -type f | wc -l)
  mb=$(du -sm --apparent-size "$dir" | cut -f1)
  export SOURCE_DATE_EPOCH=1700000000
  t0=$(seconds)
  "$cabpack" --source "$dir" --run "$run" --stub "$stub" -o "$work/$input.exe"
  t1=$(seconds)
  "$cabpack" --save-cab "$work/$input.exe" -o "$work/$input.cabpack.cab"
  t2=$(seconds)
  (cd "$dir" && find . -type f | cut -c3- | sort | xargs -d '\n' gcab -c -z "$work/$input.gcab.cab")
  t3=$(seconds)
  pack_time=$(echo "$t1 - $t0" | bc -l); gcab_time=$(echo "$t3 - $t2" | bc -l)
  printf '%-6s %8d %10d  %-28s %12.2f %12d %12d\n' "$input" "$files" "$mb" "cabpack (package)" "$pack_time" \
    "$(stat -c %s "$work/$input.cabpack.cab")" "$(stat -c %s "$work/$input.exe")"
  printf '%-6s %8d %10d  %-28s %12.2f %12d %12s\n' "$input" "$files" "$mb" "gcab -c -z (cabinet only)" "$gcab_time" \
    "$(stat -c %s "$work/$input.gcab.cab")" "-"
  printf '%-6s %8s %10s  %-28s %12.2f %12.3f\n' "$input" "" "" "ratio cabpack/gcab" \
    "$(echo "$pack_time / $gcab_time" | bc -l)" \
    "$(echo "$(stat -c %s "$work/$input.cabpack.cab") / $(stat -c %s "$work/$input.gcab.cab")" | bc -l)"
done
