#!/usr/bin/env bash
# Sets up the machine, builds everything and runs all tests: a Release build and a
# sanitizer (ASan + UBSan) build of the same tree.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
JOBS="$(nproc)"

run_config() {
  local preset="$1"
  cmake --preset "$preset" "${@:2}" >/dev/null
  cmake --build --preset "$preset" -j "$JOBS"
  ctest --preset "$preset" -j "$JOBS"
}

run_config release
# The sanitizer build reuses the release build's generated model data instead of training again.
run_config asan -DVELMORANT_PREBUILT_MODEL_DATA="$PWD/build/release/plugin/VelmorantPreamp.so.dat"

# The Windows DLL, host and tests, cross-built and run under Wine against the release build's model
# data and renders.
windows_started=$SECONDS
bash scripts/test-windows.sh
echo "test: the Windows step took $((SECONDS - windows_started)) s"
