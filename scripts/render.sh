#!/usr/bin/env bash
# The main command: sets up the machine, builds the plug-in, its default model data and the
# command-line host, and renders a WAV file through the plug-in. Without an input file it makes a
# short guitar-like test signal first. Paths are taken relative to the folder it is run from.
#
#   bash scripts/render.sh [input.wav [output.wav]] [host options, e.g. --param Gain=0.8 --program 3]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"

input=""
output=""
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then input="$1"; shift; fi
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then output="$1"; shift; fi
if [ -n "$input" ] && [ ! -f "$input" ]; then
  echo "render: no such input file: $input" >&2
  exit 1
fi

bash "$ROOT/scripts/setup.sh"
BUILD="$ROOT/build/release"
PLUGIN="$BUILD/plugin/VelmorantPreamp.so"
HOST="$BUILD/bin/velmorant-host"
if [ ! -d "$PLUGIN.dat" ]; then
  echo "render: the first build also generates the plug-in's model data, which takes about 10 minutes" \
    "(a line per finished file; details in build/release/modelgen.log)"
fi
# Only what rendering needs (the plug-in depends on its model data); the tests build with scripts/test.sh.
(cd "$ROOT" && cmake --preset release >/dev/null && cmake --build "$BUILD" -j "$(nproc)" --target VelmorantPreamp velmorant-host)

if [ -z "$input" ]; then
  # Two strummed chords of plucked strings, each string a little after the one before.
  mkdir -p "$BUILD/render"
  input="$BUILD/render/guitar-test.wav"
  sox -q -n -r 48000 -b 24 -c 1 "$BUILD/render/chord-e.wav" synth 2.2 \
    pluck E2 pluck B2 pluck E3 pluck G#3 pluck B3 pluck E4 \
    delay 0 .025 .05 .075 .1 .125 remix - fade 0 2.2 .4 norm -8
  sox -q -n -r 48000 -b 24 -c 1 "$BUILD/render/chord-a.wav" synth 2.2 \
    pluck A2 pluck E3 pluck A3 pluck C#4 pluck E4 \
    delay 0 .025 .05 .075 .1 remix - fade 0 2.2 .4 norm -8
  sox -q "$BUILD/render/chord-e.wav" "$BUILD/render/chord-a.wav" "$input"
  rm -f "$BUILD/render/chord-e.wav" "$BUILD/render/chord-a.wav"
  echo "render: made a test signal: $input"
fi
if [ -z "$output" ]; then
  mkdir -p "$BUILD/render"
  name="$(basename "$input")"
  output="$BUILD/render/${name%.*}-preamp.wav"
fi

"$HOST" render "$input" "$output" --plugin "$PLUGIN" "$@"
echo "render: the result is $output"
