#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Idempotent, quiet and non-interactive: safe to run on every build.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  juce-modules-source juce-modules-source-data
  libfann-dev libgmm-dev
  libfreetype-dev libfontconfig1-dev libx11-dev libxcomposite-dev libxcursor-dev
  libxext-dev libxinerama-dev libxrandr-dev libxrender-dev
  libpng-dev libjpeg-dev zlib1g-dev
  clang libclang-rt-14-dev
  xvfb xauth xdotool x11-apps fonts-dejavu-core
  valgrind sox
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 dpkg-dev
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "setup: all packages present"
