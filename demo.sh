#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the runner under Wine
# (on your display when there is one, else in Xvfb).
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
cmake/configure-and-build.sh build
CABRUN_USE_DISPLAY=1 cmake/wine-session.sh build wine build/runner/cabrun.exe "$@"
echo "cabrun.exe ended with exit code $?"
