#!/usr/bin/env bash
# window_wait_cpu.sh BUILD: the processor time a runner spends while it waits 10 s for the
# started program (window shown, marquee running, polled every 100 ms). Prints the runner's own
# CPU time and that of the Wine server it talks to. Goal: below 2% of one core.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: window_wait_cpu.sh BUILD}" && pwd)

if [ "${CABRUN_BENCH_INSIDE:-}" != 1 ]; then
  export CABRUN_BENCH_INSIDE=1
  CABRUN_ARCH=${CABRUN_ARCH:-native} exec "$root/cmake/wine-session.sh" "$build" "$0" "$build"
fi

# The Windows programs of the architecture that runs natively here (or CABRUN_ARCH).
arch_build=$CABRUN_ARCH_BUILD
cmake --build "$arch_build" --target window_wait_cpu launch_recorder -j2 >/dev/null
echo "architecture: $CABRUN_ARCH, run $CABRUN_ARCH_HOW"
[ "$CABRUN_ARCH_HOW" = natively ] || echo "emulated: these figures are not comparable with native ones"

# This prefix's Wine server: the one whose folder is named after the prefix's device and inode.
server_dir=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
server_pid=
for pid in $(pgrep wineserver || true); do
  [ "$(basename "$(readlink "/proc/$pid/cwd" 2>/dev/null)")" = "$server_dir" ] && server_pid=$pid
done
ticks() { [ -n "$server_pid" ] && awk '{ print $14 + $15 }' "/proc/$server_pid/stat" || echo 0; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
before=$(ticks)
start=$(date +%s.%N)
env LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 wine "$arch_build/bench/window_wait_cpu.exe" \
  "Z:$(echo "$arch_build/tests/launch_recorder.exe" | tr / '\\')" "Z:$(echo "$work" | tr / '\\')"
end=$(date +%s.%N)
after=$(ticks)
if [ -n "$server_pid" ]; then
  awk -v t="$((after - before))" -v hz="$(getconf CLK_TCK)" -v s="$start" -v e="$end" 'BEGIN {
    cpu = 1000 * t / hz; wall = 1000 * (e - s)
    printf "wine server: %.0f ms CPU over %.0f ms (%.2f%% of one core)\n", cpu, wall, 100 * cpu / wall }'
else
  echo "wine server: not found, its share not measured"
fi
