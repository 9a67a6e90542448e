#!/usr/bin/env bash
# run_bench.sh [BUILD] [MEGABYTES] [ROUNDS]: times whole runs of packages of 1, 100 and 1000
# small files and of one large file (MEGABYTES, default 128), each with the probe payload as
# the program to run, and prints for each:
#   - the time from the runner's start to the payload's start, and the part of it that is not
#     the runner's fixed sleeps before the launch (100 ms per file, the pause of 500 ms);
#   - the time of the whole run, and the part of it that is neither those sleeps, the 200 ms
#     after the launch, nor the payload's own lifetime;
#   - the runner's peak working set and peak private memory.
# The file counts include the payload. Best of ROUNDS (default 1) by the time to the payload.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
megabytes=${2:-128}
rounds=${3:-1}

if [ "${CABRUN_IN_XVFB:-}" != 1 ]; then
  cmake --build "$build" --target cabrun host_tools probe_payload run_bench -j2 >/dev/null
  exec "$root/cmake/wine-session.sh" "$build" "$0" "$build" "$megabytes" "$rounds"
fi
export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8

work=$(mktemp -d /tmp/run_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
win() { echo "Z:$(echo "$1" | tr / '\\')"; }

# package NAME FILES [BIG]: the probe plus FILES-1 files of 1 KB, or plus one file of BIG MB.
package() {
  local name=$1 files=$2 big=${3:-} source=$work/$1
  mkdir -p "$source/files"
  cp "$build/tests/probe_payload.exe" "$source/probe.exe"
  for i in $(seq 2 "$files"); do head -c 1024 /dev/urandom | base64 -w 76 > "$source/files/f$i.txt"; done
  # Base64 text of random bytes compresses to about three quarters, like typical payloads.
  [ -n "$big" ] && head -c "${big}M" < <(base64 -w 76 /dev/urandom) > "$source/files/big.bin"
  "$build/host/cabpack" --source "$source" --run probe.exe --stub "$build/runner/cabrun.exe" -o "$work/$name.exe"
  rm -rf "$source"
}

package one 1
package hundred 100
package thousand 1000
package large 2 "$megabytes"

printf '%-26s %6s %9s %9s %8s %9s %9s %8s %10s %10s\n' package files to-start overhead share \
  whole overhead share 'peak WS' 'peak priv'
for entry in one:1 hundred:100 thousand:1000 large:2; do
  name=${entry%%:*} files=${entry#*:}
  best=""
  for round in $(seq "$rounds"); do
    result=$(wine "$build/tests/run_bench.exe" "$(win "$work/$name.exe")" "$(win "$work/record.txt")")
    if [ -z "$best" ] || [ "${result%% *}" -lt "${best%% *}" ]; then best=$result; fi
  done
  read -r start whole lifetime peak private <<<"$best"
  before=$((100 * files + 500))
  over_start=$((start - before))
  over_whole=$((whole - before - 200 - lifetime))
  label="$name ($(($(stat -c %s "$work/$name.exe") / 1024)) KB)"
  printf '%-26s %6d %7dms %7dms %7s%% %7dms %7dms %7s%% %8dKB %8dKB\n' "$label" "$files" "$start" "$over_start" \
    "$(echo "scale=1; 100 * $over_start / $start" | bc)" "$whole" "$over_whole" \
    "$(echo "scale=1; 100 * $over_whole / $whole" | bc)" "$peak" "$private"
done
