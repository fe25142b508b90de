#!/usr/bin/env bash
# Builds the static MinGW-w64 libraries the Windows DLL needs and Debian does not package for
# MinGW: libjpeg-turbo, libpng and FANN's float variant, from Debian's own source packages.
# Usage: build-windows-deps.sh PREFIX   (skips work already done)
set -euo pipefail
PREFIX="$(realpath -m "${1:?usage: build-windows-deps.sh PREFIX}")"
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
TOOLCHAIN="$ROOT/cmake/mingw-w64-x86_64.cmake"
WORK="$PREFIX/.work"
JOBS="$(nproc)"
STAMP="$PREFIX/.complete-v2"
[ -f "$STAMP" ] && exit 0

mkdir -p "$WORK/apt/lists/partial" "$WORK/apt/cache/archives/partial" "$WORK/src" "$PREFIX/include" "$PREFIX/lib"
echo "deb-src http://deb.debian.org/debian bookworm main" > "$WORK/apt/sources.list"
APT=(apt-get -qq
  -o "Dir::Etc::SourceList=$WORK/apt/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
  -o "Dir::State::Lists=$WORK/apt/lists" -o "Dir::Cache=$WORK/apt/cache"
  -o "APT::Sandbox::User=root")
"${APT[@]}" update
cd "$WORK/src"
"${APT[@]}" source libjpeg-turbo=2.1.5-2 libpng1.6 libfann >/dev/null 2>&1 || "${APT[@]}" source libjpeg-turbo libpng1.6 libfann >/dev/null

# Compiled through ccache, as the project's own builds are.
cross_cmake() {  # source dir, build dir, extra args...
  local src="$1" bld="$2"; shift 2
  cmake -S "$src" -B "$bld" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_INSTALL_PREFIX="$PREFIX" "$@" >/dev/null
  cmake --build "$bld" -j "$JOBS" >/dev/null
  cmake --install "$bld" >/dev/null
}

JPEG_SRC="$(find "$WORK/src" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -1)"
cross_cmake "$JPEG_SRC" "$WORK/build-jpeg" -DWITH_SIMD=OFF -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
  -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF
cp "$JPEG_SRC/jpegint.h" "$PREFIX/include/"
# JUCE includes jpeglib.h inside a namespace after <windows.h>, whose rpcndr.h already declared
# 'boolean' globally, so jconfig.h's guarded typedef is skipped there: declare it unconditionally.
cat >> "$PREFIX/include/jconfig.h" <<'EOT'
typedef unsigned char boolean;
EOT

PNG_SRC="$(find "$WORK/src" -maxdepth 1 -type d -name 'libpng1.6-*' | head -1)"
cross_cmake "$PNG_SRC" "$WORK/build-png" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
  -DPNG_EXECUTABLES=OFF -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a \
  -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include

FANN_SRC="$(find "$WORK/src" -maxdepth 1 -type d -name 'libfann-*' | head -1)"
mkdir -p "$WORK/build-fann"
ccache x86_64-w64-mingw32-gcc-posix -O2 -c "$FANN_SRC/src/floatfann.c" -I"$FANN_SRC/src/include" \
  -o "$WORK/build-fann/floatfann.o"
x86_64-w64-mingw32-ar rcs "$PREFIX/lib/libfloatfann.a" "$WORK/build-fann/floatfann.o"
cp "$FANN_SRC"/src/include/*.h "$PREFIX/include/"

touch "$STAMP"
echo "windows deps: built into $PREFIX"
