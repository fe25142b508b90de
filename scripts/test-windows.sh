#!/usr/bin/env bash
# Cross-builds the Windows x86-64 DLL, the host and the tests with MinGW-w64 and runs them under
# Wine: the test executables through CTest, then the host's info and render commands against the
# DLL, whose render must equal the Linux render of the same input.
# Expects the Linux release build (build/release, made by scripts/test.sh first): its generated
# model data folder is copied beside the DLL and its host and plug-in make the reference render.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
JOBS="${JOBS:-$(nproc)}"
BUILD="$ROOT/build/windows"
LINUX_BUILD="${VELMORANT_LINUX_BUILD:-$ROOT/build/release}"
started=$SECONDS

bash scripts/build-windows-deps.sh "$ROOT/build/windows-deps"
cmake --preset windows -DVELMORANT_MODEL_DATA_SOURCE="$LINUX_BUILD/plugin/VelmorantPreamp.so.dat" >/dev/null
cmake --build --preset windows -j "$JOBS"

# Wine: a private prefix made once, with the null graphics driver (headless, yet JUCE gets its
# hidden message window), and one persistent wineserver for the whole run, warmed up before CTest
# so that Wine's background services do not hold CTest's output pipe open.
export WINEPREFIX="$BUILD/wineprefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINESERVER=/usr/lib/wine/wineserver64
WINE=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/.velmorant-ready" ]; then
  "$WINE" wineboot --init >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  "$WINESERVER" -w
  touch "$WINEPREFIX/.velmorant-ready"
fi
"$WINESERVER" -p
trap '"$WINESERVER" -k >/dev/null 2>&1 || true' EXIT
"$WINE" cmd /c exit >/dev/null 2>&1

# The DLL imports system DLLs only and exports its entry point only.
objdump=x86_64-w64-mingw32-objdump
dll="$BUILD/plugin/VelmorantPreamp.dll"
exports="$($objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '$1 == "[" || $1 ~ /^\[[0-9]/ {print $NF}')"
if [ "$exports" != "VSTPluginMain" ]; then
  echo "test-windows: the DLL must export only VSTPluginMain, it exports: $exports" >&2
  exit 1
fi
nonsystem="$($objdump -p "$dll" | awk '/DLL Name:/ {print $3}' | grep -viE '^(advapi32|comdlg32|dxgi|gdi32|imm32|kernel32|msvcrt|ole32|oleaut32|shell32|shlwapi|user32|version|wininet|winmm|ws2_32|wsock32|opengl32|dwmapi|uxtheme|crypt32|setupapi|rpcrt4|comctl32|winspool\.drv|usp10|d2d1|dwrite|d3d11)\.dll$' || true)"
if [ -n "$nonsystem" ]; then
  echo "test-windows: the DLL imports non-system DLLs: $nonsystem" >&2
  exit 1
fi

ctest --preset windows -j "$JOBS"

# The host program under Wine: info, then a render compared with the Linux render of the input.
HOST_EXE="$BUILD/bin/velmorant-host.exe"
RENDER="$BUILD/render"
mkdir -p "$RENDER"
"$WINE" "$HOST_EXE" info --plugin "$dll" | tr -d '\r' > "$RENDER/info.txt"
grep -q '^name: *Velmorant Preamp$' "$RENDER/info.txt"
sox -q -n -r 44100 -b 24 -c 2 "$RENDER/input.wav" synth 1.5 pluck E2 pluck B3 fade 0 1.5 .3 norm -6
render_args=(--param Gain=0.8 --param Oversampling=0.5 --format float -q)
"$WINE" "$HOST_EXE" render "$RENDER/input.wav" "$RENDER/windows.wav" --plugin "$dll" "${render_args[@]}"
"$LINUX_BUILD/bin/velmorant-host" render "$RENDER/input.wav" "$RENDER/linux.wav" \
  --plugin "$LINUX_BUILD/plugin/VelmorantPreamp.so" "${render_args[@]}"
# Largest sample difference of the two renders (float samples, full scale 1).
difference="$(sox -m -v 1 "$RENDER/windows.wav" -v -1 "$RENDER/linux.wav" -n stat 2>&1 | awk '/Maximum amplitude/ {a=$3} /Minimum amplitude/ {b=-$3} END {print (a>b)?a:b}')"
peak="$(sox "$RENDER/linux.wav" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')"
echo "test-windows: render peak $peak, largest Windows/Linux difference $difference"
if ! awk -v d="$difference" 'BEGIN {exit !(d <= 1e-4)}'; then
  echo "test-windows: the Windows render differs from the Linux render by $difference" >&2
  exit 1
fi
echo "test-windows: done in $((SECONDS - started)) s"
