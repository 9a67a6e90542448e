#!/usr/bin/env bash
# configure-and-build.sh [BUILD [TARGET...]]: configures (once) and builds everything, or the
# targets named, for both Windows architectures: x86 into the build folder given (default
# ./build), with the host tools in BUILD/host, then x64 into BUILD/x64. Under CI (CI set)
# warnings are errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift $(( $# > 0 ? 1 : 0 ))
mkdir -p "$build"
build=$(cd "$build" && pwd)
werror=OFF
[ -n "${CI:-}" ] && werror=ON
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCABRUN_WERROR=$werror >/dev/null
cmake -S "$root" -B "$build/x64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DCABRUN_WERROR=$werror \
  -DCABRUN_HOST_TOOLS_DIR="$build/host" >/dev/null
cmake --build "$build" -j"$(nproc)" ${1:+--target "$@"}
cmake --build "$build/x64" -j"$(nproc)" ${1:+--target "$@"}
