#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test (under Wine and Xvfb).
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
cmake/configure-and-build.sh build
cmake/wine-session.sh build ctest --test-dir build --output-on-failure -j2
