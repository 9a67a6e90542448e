#!/usr/bin/env bash
# run_bench.sh [BUILD] [MEGABYTES] [ROUNDS]: times whole runs of packages of 1, 100 and 1000
# small files and of one large file (MEGABYTES, default 128; once more without the files' digests),
# each with the probe payload as
# the program to run, and prints for each:
#   - the time from the runner's start to the payload's start, and the part of it that is not
#     the runner's fixed sleeps before the launch (100 ms per file, the pause of 500 ms);
#   - the time of the whole run, and the part of it that is neither those sleeps, the 200 ms
#     after the launch, nor the payload's own lifetime;
#   - the runner's peak working set and peak private memory.
# The file counts include the payload. Best of ROUNDS (default 1) by the time to the payload.
# Timing comes from the end-to-end test driver, which watches the window every 10 ms.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
megabytes=${2:-128}
rounds=${3:-1}

if [ "${CABRUN_IN_XVFB:-}" != 1 ]; then
  CABRUN_ARCH=${CABRUN_ARCH:-native} exec "$root/cmake/wine-session.sh" "$build" "$0" "$build" "$megabytes" "$rounds"
fi

# The Windows programs of the architecture that runs natively here (or CABRUN_ARCH).
arch_build=$CABRUN_ARCH_BUILD
cmake --build "$arch_build" --target cabrun host_tools probe_payload run_bench -j2 >/dev/null
echo "architecture: $CABRUN_ARCH, run $CABRUN_ARCH_HOW"
[ "$CABRUN_ARCH_HOW" = natively ] || echo "emulated: these figures are not comparable with native ones"
export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8

work=$(mktemp -d /tmp/run_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
win() { echo "Z:$(echo "$1" | tr / '\\')"; }

# package NAME FILES [BIG]: the probe plus FILES-1 files of 1 KB, or plus one file of BIG MB.
package() {
  local name=$1 files=$2 big=${3:-} source=$work/$1
  mkdir -p "$source/files"
  cp "$arch_build/tests/probe_payload.exe" "$source/probe.exe"
  for i in $(seq 2 "$files"); do head -c 1024 /dev/urandom | base64 -w 76 > "$source/files/f$i.txt"; done
  # Base64 text of random bytes compresses to about three quarters, like typical payloads.
  [ -n "$big" ] && head -c "${big}M" < <(base64 -w 76 /dev/urandom) > "$source/files/big.bin"
  "$build/host/cabpack" --source "$source" --run probe.exe --stub "$arch_build/runner/cabrun.exe" -o "$work/$name.exe"
  rm -rf "$source"
}

package one 1
package hundred 100
package thousand 1000
package large 2 "$megabytes"
# The same cabinet without the files' digests, to show what checking them costs.
"$build/host/cabpack" --save-cab "$work/large.exe" -o "$work/large.cab" >/dev/null
"$build/host/cabpack" --cab "$work/large.cab" --stub "$arch_build/runner/cabrun.exe" -o "$work/nodigests.exe" >/dev/null

times=$work/times.txt memory=$work/memory.txt
for entry in one:1 hundred:100 thousand:1000 large:2 nodigests:2; do
  name=${entry%%:*} files=${entry#*:}
  best=""
  for round in $(seq "$rounds"); do
    result=$(wine "$arch_build/bench/run_bench.exe" "$(win "$work/$name.exe")" "$(win "$work/record.txt")" | tr -d '\r')
    set -- $result
    if [ -z "$best" ] || [ "$3" -lt "$(echo "$best" | cut -d' ' -f3)" ]; then best=$result; fi
  done
  read -r shown marquee start whole lifetime peak private shown_ws shown_private <<<"$best"
  label="$name ($(($(stat -c %s "$work/$name.exe") / 1024)) KB)"
  sleeps=$((100 * files + 500))
  over=$((start - sleeps))
  over_whole=$((whole - sleeps - 200 - lifetime))
  printf '%-20s %5d %8d %8d %8d %6s%% %8d %8d %8d %8d %8d %6s%%\n' "$label" "$files" "$start" "$sleeps" "$over" \
    "$(echo "scale=1; 100 * $over / $start" | bc)" "$shown" "$((marquee - shown - sleeps))" "$((start - marquee))" \
    "$whole" "$over_whole" "$(echo "scale=1; 100 * $over_whole / $whole" | bc)" >>"$times"
  printf '%-20s %10d %10d %10d %10d %10d %10d\n' "$label" "$shown_ws" "$peak" "$((peak - shown_ws))" \
    "$shown_private" "$private" "$((private - shown_private))" >>"$memory"
done

echo "Times in ms"
printf '%-20s %5s %8s %8s %8s %7s %8s %8s %8s %8s %8s %7s\n' package files to-start sleeps overhead share \
  'runner' 'own' 'launch' whole overhead share
cat "$times"
echo
echo "Memory of the runner in KB"
printf '%-20s %10s %10s %10s %10s %10s %10s\n' package 'WS shown' 'WS peak' 'WS growth' 'priv shown' 'priv peak' \
  'priv growth'
cat "$memory"
cat <<'TEXT'

to-start: from CreateProcess of the package to the payload's first instruction. sleeps: the runner's
fixed sleeps before the launch (100 ms per file, the 500 ms pause). overhead = to-start - sleeps, with
its share of to-start, split into: runner = until its window shows (process creation, start-up);
own = from the window showing to the launch, less the sleeps (digest check, expansion, report);
launch = from the launch to the payload running (the shell, process creation).
whole: until the runner ended; its overhead leaves out the sleeps, the 200 ms after the launch and the
payload's own lifetime.
Memory: working set (WS) and private bytes of the runner when its window first shows, at their peak,
and the growth in between, which is what the run itself costs; the figures at the window include the
package's image, cabinet included.
TEXT
