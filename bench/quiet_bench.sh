#!/usr/bin/env bash
# quiet_bench.sh [BUILD] [FILES] [ROUNDS]: times a quiet run (the quiet switch, as deployment
# tools start packages) of a package of FILES files (default 1000: 1 KB text files and a payload
# that ends at once), from its start to its end, against Wine's own extrac32.exe expanding the
# same cabinet; alternating, best of ROUNDS (default 3). Prints both times and their ratio, and
# from the run's log how long its expansion alone took.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
files=${2:-1000}
rounds=${3:-3}

if [ "${CABRUN_IN_XVFB:-}" != 1 ]; then
  CABRUN_ARCH=${CABRUN_ARCH:-native} exec "$root/cmake/wine-session.sh" "$build" "$0" "$build" "$files" "$rounds"
fi

# The Windows programs of the architecture that runs natively here (or CABRUN_ARCH).
arch_build=$CABRUN_ARCH_BUILD
cmake --build "$arch_build" --target cabrun host_tools probe_payload -j2 >/dev/null
echo "architecture: $CABRUN_ARCH, run $CABRUN_ARCH_HOW"
[ "$CABRUN_ARCH_HOW" = natively ] || echo "emulated: these figures are not comparable with native ones"

work=$(mktemp -d /tmp/quiet_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
win() { echo "Z:$(echo "$1" | tr / '\\')"; }

mkdir -p "$work/source/files"
cp "$arch_build/tests/probe_payload.exe" "$work/source/probe.exe"
for i in $(seq 2 "$files"); do head -c 768 /dev/urandom | base64 -w 76 > "$work/source/files/f$i.txt"; done
"$build/host/cabpack" --source "$work/source" --run probe.exe --stub "$arch_build/runner/cabrun.exe" -o "$work/package.exe"
"$build/host/cabpack" --save-cab "$work/package.exe" -o "$work/package.cab"
rm -rf "$work/source"
quiet=$(sed -n 's/.*{PsQuietSwitch, "\(.*\)"}.*/\1/p' "$root/format/protected_plain.h")
log_switch=$(sed -n 's/.*{PsLogSwitch, "\(.*\)"}.*/\1/p' "$root/format/protected_plain.h")

# Milliseconds between two of the log's time stamps (same day).
ms() { echo "$1" | awk -F'[:.]' '{ print (($1 * 60 + $2) * 60 + $3) * 1000 + $4 }'; }

now() { date +%s.%N; }
best_ours=999999; best_theirs=999999; best_expand=999999
for round in $(seq "$rounds"); do
  rm -rf "$work/theirs" "$work/run.log"; mkdir "$work/theirs"
  t0=$(now)
  wine "$work/package.exe" "$quiet" "$log_switch=$(win "$work/run.log")" || { echo "the run failed: $?" >&2; exit 1; }
  t1=$(now)
  wine extrac32.exe /Y /E /L "$(win "$work/theirs")" "$(win "$work/package.cab")"
  t2=$(now)
  [ "$(find "$work/theirs" -type f | wc -l)" = "$files" ] || { echo "extrac32 did not expand $files files" >&2; exit 1; }
  grep -q "expanded $files files, .* error 0" "$work/run.log" || { echo "the run did not expand $files files" >&2; exit 1; }
  # Each line: "YYYY-MM-DD hh:mm:ss.mmm " and the text.
  expand=$(( $(ms "$(grep -E '^.{24}expanded ' "$work/run.log" | cut -c12-23)") - \
             $(ms "$(grep -E '^.{24}extract folder ' "$work/run.log" | cut -c12-23)") ))
  ours=$(echo "$t1 - $t0" | bc); theirs=$(echo "$t2 - $t1" | bc)
  echo "round $round: quiet run ${ours}s (expansion ${expand} ms), extrac32 ${theirs}s"
  best_ours=$(echo "if ($ours < $best_ours) $ours else $best_ours" | bc)
  best_theirs=$(echo "if ($theirs < $best_theirs) $theirs else $best_theirs" | bc)
  [ "$expand" -lt "$best_expand" ] && best_expand=$expand
done
echo "$files files, best of $rounds: quiet run ${best_ours}s (expansion ${best_expand} ms), extrac32 ${best_theirs}s," \
  "ratio $(echo "scale=2; $best_ours / $best_theirs" | bc)"
