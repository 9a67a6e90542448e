#!/usr/bin/env bash
# pack_memory.sh [BUILD] [MB...]: peak memory (maximum resident set size) of cabpack packing one
# incompressible file of each size (default 16, 256 and 1024 MB), listing the package and taking
# its cabinet out again, beside gcab -c -z making the cabinet alone from the same file.
# Goal: cabpack stays under 64 MB whatever the payload's size.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
shift || true
sizes=("${@:-16 256 1024}")
cabpack=$build/host/cabpack
stub=$build/runner/cabrun.exe
[ -x "$cabpack" ] && [ -f "$stub" ] || { echo "build cabpack and cabrun first ($build)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time)" >&2; exit 1; }
work=$(mktemp -d /tmp/pack_memory.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Peak resident memory in MB and seconds of one command: "MB SECONDS".
measure() {
  /usr/bin/time -f '%M %e' -o "$work/time" "$@" > /dev/null
  awk '{ printf "%.1f %.2f\n", $1 / 1024, $2 }' "$work/time"
}

printf '%8s  %-20s %8s %8s  %-12s %8s %8s  %s\n' payload step peak_MB seconds reference peak_MB seconds "memory ratio"
for mb in ${sizes[*]}; do
  rm -rf "$work/src" "$work"/*.exe "$work"/*.cab
  mkdir "$work/src"
  head -c "$((mb << 20))" /dev/urandom > "$work/src/firmware.bin"
  read -r gcab_mb gcab_s < <(measure gcab -c -z "$work/gcab.cab" "$work/src/firmware.bin")
  read -r pack_mb pack_s < <(measure "$cabpack" --source "$work/src" --run firmware.bin --stub "$stub" -o "$work/p.exe")
  read -r list_mb list_s < <(measure "$cabpack" --list "$work/p.exe")
  read -r save_mb save_s < <(measure "$cabpack" --save-cab "$work/p.exe" -o "$work/saved.cab")
  printf '%5d MB  %-20s %8s %8s  %-12s %8s %8s  %.2f\n' "$mb" "cabpack --source" "$pack_mb" "$pack_s" \
    "gcab -c -z" "$gcab_mb" "$gcab_s" "$(echo "$pack_mb / $gcab_mb" | bc -l)"
  printf '%5d MB  %-20s %8s %8s\n' "$mb" "cabpack --list" "$list_mb" "$list_s"
  printf '%5d MB  %-20s %8s %8s\n' "$mb" "cabpack --save-cab" "$save_mb" "$save_s"
done
