#!/usr/bin/env bash
# Installs what is missing, builds everything for x86 and x64 and runs every test (under Wine and
# Xvfb): the Windows tests of each architecture this machine runs; where it runs no 32-bit
# programs, the x86 ones show as skipped and only their checks without Wine run.
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
cmake/configure-and-build.sh build
log=build/ctest.log
rc=0
cmake/wine-session.sh build ctest --test-dir build --output-on-failure -j2 2>&1 | tee "$log" || rc=$?

echo
for arch in x86 x64; do
  why=$(sh cmake/wine-arch.sh --why $arch)
  if [ -z "$why" ]; then
    echo "$arch: tested under Wine"
  else
    echo "$arch: Wine tests skipped ($why); checks without Wine ran"
  fi
done
total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
failed=$(sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n 1)
skipped=$(grep -c '(Skipped)$' "$log" || true)
[ -n "$total" ] && echo "tests: $((total - failed - skipped)) passed, $failed failed, $skipped skipped"
exit $rc
