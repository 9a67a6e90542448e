#!/usr/bin/env bash
# configure-and-build.sh [BUILD [TARGET...]]: configures (once) and builds everything, or the
# targets named, into the build folder given, default ./build. Under CI (CI set) warnings are
# errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift $(( $# > 0 ? 1 : 0 ))
werror=OFF
[ -n "${CI:-}" ] && werror=ON
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCABRUN_WERROR=$werror >/dev/null
cmake --build "$build" -j"$(nproc)" ${1:+--target "$@"}
