#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer, UndefinedBehaviorSanitizer, everything
# instrumented) in build/fuzz and runs them side by side, each on a working copy of its committed
# seed corpus (it runs every seed, then fuzzes for the rest of its time):
#   model-file-fuzzer    both model file readers, the stage check and the networks built from a file
#   preset-chunk-fuzzer  the preset chunk through the document reader and the processor's state restore
#   wav-file-fuzzer      the host's WAV reader
#   scripts/fuzz.sh [seconds per target] [target ...]    default 120 s each, every target at once
#   FUZZ_BUILD=0 scripts/fuzz.sh ...                     runs what is built
#   FUZZ_RUN=0 scripts/fuzz.sh [seconds] [target ...]    builds only
# Needs clang and libclang-rt-14-dev (scripts/setup.sh installs both). A finding stops the script
# with a failure and lands in build/fuzz/findings/<target>/; each finding becomes a test.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="$ROOT/build/fuzz"
SECONDS_TO_RUN="${1:-120}"
[ $# -gt 0 ] && shift
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(model-file-fuzzer preset-chunk-fuzzer wav-file-fuzzer)
JOBS="$(nproc)"
[ "$JOBS" -le 6 ] || JOBS=6

if [ "${FUZZ_BUILD:-1}" != 0 ]; then
  build_started=$SECONDS
  export CCACHE_BASEDIR="$ROOT"
  # -O1 with line tables: quick to build, fast enough to fuzz, and stack traces that name lines.
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$OUT" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" -DVELMORANT_FUZZ=ON >/dev/null
  cmake --build "$OUT" -j "$JOBS" --target "${TARGETS[@]}" model-file-seed-writer
  echo "fuzz: the build took $((SECONDS - build_started)) s"
fi

[ "${FUZZ_RUN:-1}" != 0 ] || exit 0

# The committed seeds, plus seeds made at run time or kept as test data elsewhere.
seed() {
  local target="$1" corpus="$OUT/corpus/$1"
  mkdir -p "$corpus" "$OUT/findings/$target"
  cp -n "$ROOT/tools/fuzz/corpus/${target%-fuzzer}"/* "$corpus/" 2>/dev/null || true
  case "$target" in
    model-file-fuzzer) "$OUT/tools/fuzz/model-file-seed-writer" "$corpus" >/dev/null ;;
    preset-chunk-fuzzer) cp -n "$ROOT"/tests/processor/hostile-chunks/*.chunk "$corpus/" 2>/dev/null || true ;;
  esac
}

max_length() {
  case "$1" in
    preset-chunk-fuzzer) echo 16384 ;;
    *) echo 4096 ;;
  esac
}

# Each target's output goes to build/fuzz/logs/<target>.log and is shown when all have finished.
fuzz() {
  local target="$1"
  (cd "$OUT" && "./tools/fuzz/$target" -max_total_time="$SECONDS_TO_RUN" -max_len="$(max_length "$target")" \
     -timeout=10 -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="findings/$target/" "corpus/$target") \
    > "$OUT/logs/$target.log" 2>&1
}

runs_started=$SECONDS
mkdir -p "$OUT/logs"
runs=()
for target in "${TARGETS[@]}"; do
  seed "$target"
  echo "fuzz: $target for $SECONDS_TO_RUN s"
  fuzz "$target" &
  runs+=($!)
done
failed=()
for k in "${!TARGETS[@]}"; do
  wait "${runs[$k]}" || failed+=("${TARGETS[$k]}")
  echo "fuzz: ${TARGETS[$k]}:"
  cat "$OUT/logs/${TARGETS[$k]}.log"
done
echo "fuzz: the runs took $((SECONDS - runs_started)) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: ${failed[*]} failed; findings in $OUT/findings/" >&2
  exit 1
fi
