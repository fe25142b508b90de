#!/usr/bin/env bash
# Builds the model file fuzzer with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs it on a copy of the committed seed corpus.
#   scripts/fuzz.sh [seconds]     default 120
# Needs clang and libclang-rt-14-dev (scripts/setup.sh installs both). Findings land in build/fuzz/.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="$ROOT/build/fuzz"
SECONDS_TO_RUN="${1:-120}"
mkdir -p "$OUT/corpus"

FLAGS=(-std=c++17 -g -O1 -fno-omit-frame-pointer -I"$ROOT/source/models" -I"$ROOT/source/platform")
SOURCES=("$ROOT"/source/models/*.cpp)

clang++ "${FLAGS[@]}" -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  "$ROOT/tools/fuzz/ModelFileFuzzer.cpp" "${SOURCES[@]}" -lfloatfann -o "$OUT/model-file-fuzzer"
clang++ "${FLAGS[@]}" "$ROOT/tools/fuzz/SeedWriter.cpp" "${SOURCES[@]}" -lfloatfann -o "$OUT/seed-writer"

cp -n "$ROOT"/tools/fuzz/corpus/* "$OUT/corpus/" 2>/dev/null || true
"$OUT/seed-writer" "$OUT/corpus" >/dev/null

cd "$OUT"
./model-file-fuzzer -max_total_time="$SECONDS_TO_RUN" -max_len=4096 -print_final_stats=1 corpus
