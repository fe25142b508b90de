#!/usr/bin/env bash
# Cross-builds the Windows x86-64 DLL, the host and the tests with MinGW-w64 and runs them under
# Wine: the test executables through CTest, then the host's info and render commands against the
# DLL, whose render must equal the Linux render of the same input, then the DLL's editor in the
# Windows host's window on a virtual X display, compared with the Linux editor.
# Expects the Linux release build (build/release, made by scripts/test.sh first): its generated
# model data folder is copied beside the DLL and its host and plug-in make the reference render.
#   scripts/test-windows.sh [build]    with "build": builds only
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
echo "test-windows: the dependencies and the build took $((SECONDS - started)) s"
[ "${1:-}" != build ] || exit 0

# Wine: a private prefix made once, and one persistent wineserver for the tests and the host's
# commands, warmed up before CTest so that Wine's background services do not hold CTest's output
# pipe open. Its graphics drivers are "x11,null": without DISPLAY (unset here) the null driver
# (headless, yet JUCE gets its hidden message window), with one, for the editor check only, X11.
# X11 windows are unmanaged: the virtual display has no window manager, whose answer Wine would
# otherwise await for every window it hides (two seconds each).
unset DISPLAY
export WINEPREFIX="$BUILD/wineprefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINESERVER=/usr/lib/wine/wineserver64
WINE=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/.velmorant-ready-v2" ]; then
  "$WINE" wineboot --init >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null /f >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  "$WINESERVER" -w
  touch "$WINEPREFIX/.velmorant-ready-v2"
fi
XVFB_PID=""
trap '"$WINESERVER" -k >/dev/null 2>&1 || true; [ -z "$XVFB_PID" ] || kill "$XVFB_PID" 2>/dev/null || true' EXIT
"$WINESERVER" -p
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

ctest_started=$SECONDS
ctest --preset windows -j "$JOBS"
echo "test-windows: the tests under CTest took $((SECONDS - ctest_started)) s"

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
# The editor: the Windows host opens the DLL's editor in its window under Wine's X11 driver on a
# virtual X display and compares what it shows with the Linux host's screenshots of the same states
# (tests/editor/EditorWineTest.cpp); then once more on a display without OpenGL, where Wine has no
# DirectX graphics and the editor must decline to open. Anything on the test's standard error fails.
EDITOR_CHECK="$BUILD/editor-check"
rm -rf "$EDITOR_CHECK"
mkdir -p "$EDITOR_CHECK/linux"

# Starts Xvfb with the given options and points DISPLAY at it: Xvfb picks a free display number
# and writes it to descriptor 3 once it accepts connections.
start_display() {
  : > "$EDITOR_CHECK/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp "$@" 3>"$EDITOR_CHECK/display" 2>>"$EDITOR_CHECK/xvfb.log" &
  XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$EDITOR_CHECK/display" ] && break; sleep 0.1; done
  if [ ! -s "$EDITOR_CHECK/display" ]; then echo "test-windows: Xvfb did not start" >&2; exit 1; fi
  export DISPLAY=":$(cat "$EDITOR_CHECK/display")"
}

# Ends the Wine session that used the display (its desktop process holds a connection), then Xvfb.
stop_display() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w
  kill "$XVFB_PID"
  wait "$XVFB_PID" 2>/dev/null || true
  XVFB_PID=""
  unset DISPLAY
}

run_editor_test() {
  local status=0
  (cd "$EDITOR_CHECK" && "$WINE" "$BUILD/bin/editor_wine.exe" "$@" 2>"$EDITOR_CHECK/stderr.txt") || status=$?
  if [ -s "$EDITOR_CHECK/stderr.txt" ]; then
    echo "test-windows: the editor test wrote to its standard error:" >&2
    cat "$EDITOR_CHECK/stderr.txt" >&2
    status=1
  fi
  return "$status"
}

editor_started=$SECONDS
"$WINESERVER" -k >/dev/null 2>&1 || true  # the null driver's session ends here
"$WINESERVER" -w
start_display
linux_host=("$LINUX_BUILD/bin/velmorant-host" screenshot --plugin "$LINUX_BUILD/plugin/VelmorantPreamp.so" -q)
"${linux_host[@]}" "$EDITOR_CHECK/linux/plain.png" "$EDITOR_CHECK/linux/settings.png"
"${linux_host[@]}" "$EDITOR_CHECK/linux/plain-gain.png" "$EDITOR_CHECK/linux/settings-gain.png" --param Gain=1
VELMORANT_LINUX_SCREENSHOTS="$EDITOR_CHECK/linux" run_editor_test --gtest_filter='-WindowsEditorWithoutDirectX.*'
stop_display
start_display -extension GLX
VELMORANT_DISPLAY_WITHOUT_OPENGL=1 run_editor_test --gtest_filter='WindowsEditorWithoutDirectX.*'
stop_display
echo "test-windows: the editor check took $((SECONDS - editor_started)) s"
echo "test-windows: done in $((SECONDS - started)) s"
