#!/usr/bin/env bash
# Sets up the machine, builds everything and runs all tests: a Release build and a sanitizer
# (ASan + UBSan) build of the same tree, the adapter's, the processor's and the model generator's
# thread tests under ThreadSanitizer, every fuzz target for a minute, and the Windows build under Wine.
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

# The adapter called from two threads at once, the processor's reloads handed from the audio
# thread to its worker, and a small generation of model data through every parallel phase of the
# generator, under ThreadSanitizer: only those tests and what they link are built there, not the
# whole tree.
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$JOBS" --target adapter_threads processor_threads modelgen_threads
ctest --test-dir build/tsan -R '^(AdapterThreads|ProcessorThreads|ModelgenThreads)\.' --output-on-failure

# Every fuzz target is built and runs a minute on its seeds, so that none of them rots.
fuzz_started=$SECONDS
bash scripts/fuzz.sh 60
echo "test: the fuzz step took $((SECONDS - fuzz_started)) s"

# The Windows DLL, host and tests, cross-built and run under Wine against the release build's model
# data and renders.
windows_started=$SECONDS
bash scripts/test-windows.sh
echo "test: the Windows step took $((SECONDS - windows_started)) s"
