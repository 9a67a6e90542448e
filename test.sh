#!/usr/bin/env bash
# Installs what is missing, builds everything for x86 and x64 and runs every test (under Wine and
# Xvfb) for both architectures: x86 natively where the kernel runs 32-bit programs, else through
# qemu user emulation (cmake/x86-route.sh); where neither works, the x86 Wine tests show as
# skipped and only their checks without Wine run.
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
cmake/configure-and-build.sh build
log=build/ctest.log
rc=0
cmake/wine-session.sh build ctest --test-dir build --output-on-failure -j2 2>&1 | tee "$log" || rc=$?

echo
# One line per architecture from the session: how its Wine tests ran, or why they were skipped.
sed -e 's/^\([a-z0-9]*\): ran /\1: Wine tests ran /' \
    -e 's/^\([a-z0-9]*\): skipped (\(.*\))$/\1: Wine tests skipped (\2); checks without Wine ran/' build/wine-session.txt
total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
failed=$(sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n 1)
skipped=$(grep -c '(Skipped)$' "$log" || true)
[ -n "$total" ] && echo "tests: $((total - failed - skipped)) passed, $failed failed, $skipped skipped"
exit $rc
