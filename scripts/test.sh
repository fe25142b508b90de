#!/usr/bin/env bash
# Sets up the machine, builds everything and runs all tests: a Release build and a sanitizer
# (ASan + UBSan) build of the same tree, the adapter's, the processor's and the model generator's
# thread tests under ThreadSanitizer, every fuzz target for half a minute, and the Windows build under Wine.
# Each step prints its wall-clock seconds ("test: step NAME took N s"). The builds that the
# Release tests do not need run in the background at the lowest priority once the model data is
# there, so that they take only the processor time the foreground leaves idle; each test step waits
# for its build. A failing test step does not stop the others: the script fails at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="$(nproc)"
# Compiler caches hit across clones in other folders.
export CCACHE_BASEDIR="$PWD"
LOGS="$PWD/build/logs"
mkdir -p "$LOGS"
failed_steps=()

step() {
  local name="$1" started=$SECONDS status=0
  shift
  "$@" || status=$?
  echo "test: step $name took $((SECONDS - started)) s$([ "$status" -eq 0 ] || echo ", failed")"
  return "$status"
}

# A test step: its failure is reported at the end.
test_step() {
  step "$@" || failed_steps+=("$1")
}

# background NAME COMMAND...: one background step, its output in build/logs/NAME.log and its exit
# status in NAME.status. await NAME waits for it and shows its output; a failed build stops the script.
background() {
  local name="$1"
  shift
  (
    status=0
    step "$name" nice -n 19 "$@" > "$LOGS/$name.log" 2>&1 || status=$?
    echo "$status" > "$LOGS/$name.status"
  )
}
await() {
  local started=$SECONDS
  while [ ! -f "$LOGS/$1.status" ]; do sleep 1; done
  cat "$LOGS/$1.log"
  echo "test: waited $((SECONDS - started)) s for $1"
  return "$(cat "$LOGS/$1.status")"
}
rm -f "$LOGS"/*.status
background_pids=()
descendants() {
  local child
  for child in $(pgrep -P "$1"); do echo "$child"; descendants "$child"; done
}
trap 'for pid in "${background_pids[@]}"; do kill $pid $(descendants $pid) 2>/dev/null || true; done' EXIT

step setup bash scripts/setup.sh

# The MinGW dependencies: downloaded and built while everything else goes on.
background windows-deps bash scripts/build-windows-deps.sh build/windows-deps &
background_pids+=($!)

# The generator first, then the model data alone, so that the data's own time shows.
cmake --preset release >/dev/null
step release-modelgen-build cmake --build --preset release -j "$JOBS" --target velmorant-modelgen
step model-data cmake --build --preset release -j "$JOBS" --target velmorant_model_data

# The sanitizer build reuses the release build's generated model data instead of training again.
cmake --preset asan -DVELMORANT_PREBUILT_MODEL_DATA="$PWD/build/release/plugin/VelmorantPreamp.so.dat" >/dev/null
cmake --preset tsan >/dev/null
{
  background asan-build cmake --build --preset asan -j "$JOBS"
  # ThreadSanitizer: only the thread tests and what they link are built there, not the whole tree.
  background tsan-build cmake --build --preset tsan -j "$JOBS" --target adapter_threads processor_threads modelgen_threads
  FUZZ_RUN=0 background fuzz-build bash scripts/fuzz.sh
  await windows-deps >/dev/null 2>&1 || true  # a failure shows at the Windows step
  background windows-build bash scripts/test-windows.sh build
} &
background_pids+=($!)

step release-build cmake --build --preset release -j "$JOBS"
test_step release-tests ctest --preset release -j "$JOBS"

await asan-build
test_step asan-tests ctest --preset asan -j "$JOBS"

# The adapter called from two threads at once, the processor's reloads handed from the audio
# thread to its worker, and a small generation of model data through every parallel phase of the
# generator, under ThreadSanitizer.
await tsan-build
test_step tsan-tests ctest --test-dir build/tsan -R '^(AdapterThreads|ProcessorThreads|ModelgenThreads)\.' --output-on-failure

# Every fuzz target runs half a minute on its seeds, so that none of them rots.
await fuzz-build
FUZZ_BUILD=0 test_step fuzz-runs bash scripts/fuzz.sh 30

# The Windows DLL, host and tests, cross-built and run under Wine against the release build's model
# data and renders.
await windows-deps
await windows-build
test_step windows-tests bash scripts/test-windows.sh

if [ ${#failed_steps[@]} -gt 0 ]; then
  echo "test: failed: ${failed_steps[*]}" >&2
  exit 1
fi
echo "test: all steps passed"
