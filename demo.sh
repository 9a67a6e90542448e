#!/usr/bin/env bash
# Installs what is missing, builds the runner, cabpack and the demo payload, packs the payload
# with cabpack and runs the package under Wine: on your display when there is one (the payload then shows what it
# received in a message box), else in Xvfb (it is printed here instead).
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
cmake/configure-and-build.sh build cabpack_stub show_received
build=$PWD/build

source_dir=$build/demo/package
rm -rf "$source_dir" && mkdir -p "$source_dir"
cp "$build/demo/show_received.exe" demo/readme.txt "$source_dir/"
build/host/cabpack --source "$source_dir" --run show_received.exe --on ReportPowerStatus \
  -o "$build/demo/cabrun-demo.exe"
build/host/cabpack --list "$build/demo/cabrun-demo.exe"

output=$build/demo/received.txt
rm -f "$output"
if [ -n "${DISPLAY:-}" ]; then
  CABRUN_USE_DISPLAY=1 cmake/wine-session.sh build wine "$build/demo/cabrun-demo.exe" "first argument" second
else
  CABRUN_DEMO_OUTPUT="Z:$output" cmake/wine-session.sh build wine "$build/demo/cabrun-demo.exe" "first argument" second
  echo
  echo "The payload received:"
  tr -d '\r' < "$output"
fi
