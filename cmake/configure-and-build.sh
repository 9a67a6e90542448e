#!/usr/bin/env bash
# Configures (once) and builds everything into the build folder given, default ./build.
# Under CI (CI set) warnings are errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
werror=OFF
[ -n "${CI:-}" ] && werror=ON
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCABRUN_WERROR=$werror >/dev/null
cmake --build "$build" -j"$(nproc)"
