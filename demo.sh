#!/usr/bin/env bash
# Installs what is missing, builds the runner, cabpack and the demo payload, packs the payload
# with cabpack and runs the package under Wine: on your display when there is one (the payload then shows what it
# received in a message box), else in Xvfb (it is printed here instead). The package is for x86,
# the default, run natively where this machine runs 32-bit programs and through qemu user
# emulation where it does not (cmake/x86-route.sh); for x64 only where neither works.
set -euo pipefail
cd "$(dirname "$0")"
if [ -z "${CABRUN_X86_ROUTE:-}" ]; then
  ./setup.sh  # never inside the route's namespace
  exec sh cmake/x86-route.sh "$0" "$@"
fi
runnable=$(sh cmake/wine-arch.sh --runnable)
arch=${runnable%% *}
if [ -z "$arch" ]; then
  echo "demo.sh: Wine runs no Windows programs here: x86: $(sh cmake/wine-arch.sh --why x86); x64: $(sh cmake/wine-arch.sh --why x64)" >&2
  exit 1
fi
if [ "$arch" = x86 ]; then
  echo "demo: an x86 package (the default), run $CABRUN_X86_HOW"
else
  echo "demo: an x64 package (x86: $(sh cmake/wine-arch.sh --why x86))"
fi
cmake/configure-and-build.sh build cabpack_stub show_received
build=$PWD/build
arch_build=$build
[ "$arch" = x64 ] && arch_build=$build/x64

source_dir=$build/demo/package
rm -rf "$source_dir" && mkdir -p "$source_dir"
cp "$arch_build/demo/show_received.exe" demo/readme.txt "$source_dir/"
build/host/cabpack --source "$source_dir" --run show_received.exe --on ReportPowerStatus --arch "$arch" \
  -o "$build/demo/cabrun-demo.exe"
build/host/cabpack --list "$build/demo/cabrun-demo.exe"

output=$build/demo/received.txt
rm -f "$output"
export CABRUN_ARCH=$arch
if [ -n "${DISPLAY:-}" ]; then
  CABRUN_USE_DISPLAY=1 cmake/wine-session.sh build wine "$build/demo/cabrun-demo.exe" "first argument" second
else
  CABRUN_DEMO_OUTPUT="Z:$output" cmake/wine-session.sh build wine "$build/demo/cabrun-demo.exe" "first argument" second
  echo
  echo "The payload received:"
  tr -d '\r' < "$output"
fi
