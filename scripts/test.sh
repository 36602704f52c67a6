#!/usr/bin/env bash
# The test command: installs dependencies, then configures, builds and runs the
# test suites of the native, asan and armhf presets. Fails on any failing test
# and on a preset that runs no test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then presets=(native asan armhf); fi

for preset in "${presets[@]}"; do
  echo "=== ${preset} ==="
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
