#!/bin/sh
# cabpack_windows_build.sh CABPACK_EXE WORK PROBE_STUB RUNNER_STUB: the Windows build of cabpack, run under Wine, makes
# the same packages as the host build did (from the probe and from the runner, MSZIP and LZX), and replaces
# an existing output.
set -eu
exe=$1 work=$2 probe_stub=$3 runner_stub=$4
export SOURCE_DATE_EPOCH=946728000
rm -f "$work/win_pkg.exe" "$work/win_cabrun_pkg.exe" "$work/win_lzx_pkg.exe"
for round in 1 2; do
  wine "$exe" --source "Z:$work/src" --run 'bin\payload.exe' --on HideWhileRunning --off AllowExtractSwitch \
    --stub "Z:$probe_stub" -o "Z:$work/win_pkg.exe"
  cmp "$work/probe_pkg.exe" "$work/win_pkg.exe"
done
wine "$exe" --source "Z:$work/src" --run bin/payload.exe --on HideWhileRunning --off AllowExtractSwitch \
  --stub "Z:$runner_stub" -o "Z:$work/win_cabrun_pkg.exe"
cmp "$work/cabrun_pkg.exe" "$work/win_cabrun_pkg.exe"
wine "$exe" --source "Z:$work/src" --run bin/payload.exe --compression lzx:16 --stub "Z:$runner_stub" \
  -o "Z:$work/win_lzx_pkg.exe"
cmp "$work/lzx_pkg.exe" "$work/win_lzx_pkg.exe"
