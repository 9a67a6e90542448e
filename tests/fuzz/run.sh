#!/bin/sh
# run.sh SECONDS [HOST_BUILD [HARNESS...]]: runs every input of each harness's corpus
# (tests/fuzz/corpus/HARNESS and what earlier runs found), then fuzzes it for SECONDS. Every
# harness without names; HOST_BUILD is build/host by default. New inputs go to
# HOST_BUILD/fuzz/found/HARNESS, never into the sources; a crash, a leak, a hang of over 10 s or
# over 2 GB of memory fails the run (exit code 1), its input left in HOST_BUILD/fuzz/crashes and
# the fuzzer's log in HOST_BUILD/fuzz/HARNESS.log.
# Exits 77 (skipped) where the harnesses were not built: the host build makes them only where
# clang has libFuzzer (target cabpack_fuzzers).
set -eu
seconds=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
host=${2:-$root/build/host}
[ $# -ge 2 ] && shift 2 || shift $#
harnesses=${*:-$(ls "$root/tests/fuzz/corpus")}
failed=
for harness in $harnesses; do
  fuzzer=$host/fuzz/fuzz_$harness
  if [ ! -x "$fuzzer" ]; then
    echo "skipped: $fuzzer was not built (the host build makes it where clang has libFuzzer)"
    exit 77
  fi
  mkdir -p "$host/fuzz/found/$harness" "$host/fuzz/crashes"
  log=$host/fuzz/$harness.log
  rc=0
  "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -error_exitcode=1 -timeout_exitcode=1 \
    -print_final_stats=1 -artifact_prefix="$host/fuzz/crashes/$harness-" \
    "$host/fuzz/found/$harness" "$root/tests/fuzz/corpus/$harness" > "$log" 2>&1 || rc=$?
  if [ "$rc" = 0 ]; then
    echo "$harness: $(awk '/^stat::number_of_executed_units/ { print $2 }' "$log") runs in $seconds s over" \
      "$(ls "$root/tests/fuzz/corpus/$harness" | wc -l) seeds and $(ls "$host/fuzz/found/$harness" | wc -l) inputs found"
  else
    tail -n 40 "$log"
    echo "$harness: FAILED (exit code $rc), its input in $host/fuzz/crashes/$harness-*, the log in $log"
    failed="$failed $harness"
  fi
done
[ -z "$failed" ] || { echo "fuzz findings:$failed"; exit 1; }
