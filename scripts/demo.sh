#!/usr/bin/env bash
# Builds the native preset and runs the sample host program: the monitor
# library loaded on the test VM, started as an app would start it, and a short
# account of what the host received.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset native
cmake --build --preset native --target nmm_demo
echo
build/native/demo/nmm_demo build/native/demo/logcat.txt
