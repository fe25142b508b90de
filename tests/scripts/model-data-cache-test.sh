#!/usr/bin/env bash
# model-data-cache-test.sh CASE FAKE_GENERATOR CACHE_SCRIPT: one case of the model data cache's tests.
set -euo pipefail
case_name="$1" fake="$2" script="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export VELMORANT_MODEL_DATA_CACHE="$work/cache" FAKE_GENERATOR_RUNS="$work/runs"
fail() { echo "FAIL: $*" >&2; exit 1; }
runs() { cat "$work/runs" 2>/dev/null | wc -l; }
# generate OUT [OPTION ...]: the cached generation into $work/OUT, its output in $work/said.
generate() { local out="$1"; shift; bash "$script" "${GENERATOR:-$fake}" "$work/$out" "$@" > "$work/said"; }
said_key() { grep -oE 'key [0-9a-f]{64}' "$work/said" | head -1 | cut -c5-; }
expect_runs() { [ "$(runs)" -eq "$1" ] || fail "$2: the generator ran $(runs) times, not $1"; }
same_files() { diff -r "$work/$1" "$work/$2" >/dev/null || fail "$1 and $2 differ"; }

case "$case_name" in
KeyAndHit)
  generate first --seed 1 --threads 2 --log "$work/first.log"
  key="$(said_key)"
  mkdir -p "$work/second" && touch "$work/second/stale.dat"
  generate second --threads 8 --seed 1 --log "$work/second.log"
  expect_runs 1 "a second build with other threads and log"
  [ "$(wc -l < "$work/said")" -eq 1 ] && grep -q "from the cache, key $key" "$work/said" || fail "hit said: $(cat "$work/said")"
  same_files first second
  cmp -s "$work/first.log" "$work/second.log" || fail "the log did not come from the cache"
  generate third --seed 2
  [ "$(said_key)" != "$key" ] || fail "another seed kept the key"
  cp "$fake" "$work/changed-generator" && printf x >> "$work/changed-generator"
  GENERATOR="$work/changed-generator" generate fourth --seed 1
  [ "$(said_key)" != "$key" ] || fail "another generator binary kept the key"
  library="$(ldd "$fake" | awk '$1 ~ /^libstdc/ {print $3}')"
  mkdir "$work/lib" && cp "$library" "$work/lib/" && printf x >> "$work/lib/${library##*/}"
  LD_LIBRARY_PATH="$work/lib" generate fifth --seed 1
  [ "$(said_key)" != "$key" ] || fail "another libstdc++ kept the key"
  expect_runs 4 "new keys" ;;
DamagedEntry)
  generate good
  entry="$VELMORANT_MODEL_DATA_CACHE/$(said_key)"
  for damage in "printf x >> data/first.dat" "rm data/second.dat" "touch data/extra.dat" \
                "sed -i '/second/d' manifest" "rm manifest"; do
    (cd "$entry" && eval "$damage")
    generate again
    grep -q damaged "$work/said" || fail "a damaged entry ($damage) was used"
    same_files good again
    generate hit
    grep -q "from the cache" "$work/said" || fail "the entry damaged by '$damage' was not replaced"
  done
  expect_runs 6 "five damaged entries" ;;
FailureAndBound)
  ! FAKE_GENERATOR_FAIL=1 generate failed 2>/dev/null || fail "a failed generation succeeded"
  [ -z "$(ls -A "$VELMORANT_MODEL_DATA_CACHE" 2>/dev/null)" ] || fail "a failed generation left an entry"
  export VELMORANT_MODEL_DATA_CACHE_ENTRIES=2
  generate out --seed 1 && generate out --seed 2 && generate out --seed 1 && generate out --seed 3
  [ "$(ls "$VELMORANT_MODEL_DATA_CACHE" | wc -l)" -eq 2 ] || fail "more entries than the bound"
  generate out --seed 1 && generate out --seed 3
  expect_runs 4 "the entries used last"
  generate out --seed 2
  expect_runs 5 "the entry used longest ago" ;;
*) fail "no case $case_name" ;;
esac
echo "$case_name passed"
