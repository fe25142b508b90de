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

# apt-get, waiting (five minutes at most) while another package installation holds the package
# manager's locks: apt-get install waits for dpkg's lock by itself, apt-get update and the
# download lock do not, so a run that failed only for a lock is tried again.
LOCK_WAIT_SECONDS=300
apt_get() {
  local deadline=$((SECONDS + LOCK_WAIT_SECONDS)) output status said=""
  while true; do
    status=0
    output="$(LC_ALL=C $SUDO apt-get -o DPkg::Lock::Timeout=$((deadline > SECONDS ? deadline - SECONDS : 0)) "$@" 2>&1)" \
      || status=$?
    if [ "$status" -eq 0 ]; then return 0; fi
    if ! grep -q "Could not get lock" <<<"$output" || [ "$SECONDS" -ge "$deadline" ]; then
      echo "$output" >&2
      return "$status"
    fi
    if [ -z "$said" ]; then
      echo "setup: another package installation is running; waiting for it to finish"
      said=1
    fi
    sleep 5
  done
}

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt_get update -qq
  apt_get install -y -qq --no-install-recommends "${missing[@]}"
fi
echo "setup: all packages present"
