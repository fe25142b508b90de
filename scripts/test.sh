#!/usr/bin/env bash
# Sets up the machine, builds everything and runs all tests: a Release build and a sanitizer
# (ASan + UBSan) build of the same tree, the adapter's and the processor's thread tests under
# ThreadSanitizer, every fuzz target for a minute, and the Windows build under Wine.
# Each step prints its wall-clock seconds ("test: step NAME took N s").
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="$(nproc)"

step() {
  local name="$1" started=$SECONDS
  shift
  "$@"
  echo "test: step $name took $((SECONDS - started)) s"
}

step setup bash scripts/setup.sh

run_config() {
  local preset="$1"
  cmake --preset "$preset" "${@:2}" >/dev/null
  step "$preset-build" cmake --build --preset "$preset" -j "$JOBS"
  step "$preset-tests" ctest --preset "$preset" -j "$JOBS"
}

# The generator first, then the model data alone, so that the data's own time shows.
cmake --preset release >/dev/null
step release-modelgen-build cmake --build --preset release -j "$JOBS" --target velmorant-modelgen
step model-data cmake --build --preset release -j "$JOBS" --target velmorant_model_data
run_config release
# The sanitizer build reuses the release build's generated model data instead of training again.
run_config asan -DVELMORANT_PREBUILT_MODEL_DATA="$PWD/build/release/plugin/VelmorantPreamp.so.dat"

# The adapter called from two threads at once, and the processor's reloads handed from the audio
# thread to its worker, under ThreadSanitizer: only those tests and what they link are built there,
# not the whole tree.
tsan() {
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan -j "$JOBS" --target adapter_threads processor_threads
  ctest --test-dir build/tsan -R '^(AdapterThreads|ProcessorThreads)\.' --output-on-failure
}
step tsan tsan

# Every fuzz target is built and runs a minute on its seeds, so that none of them rots.
step fuzz bash scripts/fuzz.sh 60

# The Windows DLL, host and tests, cross-built and run under Wine against the release build's model
# data and renders.
step windows bash scripts/test-windows.sh
