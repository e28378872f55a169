#!/usr/bin/env bash
# Installs what Kalv3 needs on a Debian machine (only the packages that are missing),
# then configures and builds the presets given as arguments (default: native).
#   scripts/setup.sh [native] [asan] [windows] [bench] [fuzz]
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  cmake ninja-build g++ pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libssl-dev libdeflate-dev
  g++-mingw-w64-x86-64 wine wine64 xvfb xauth x11-utils xdotool imagemagick
  zip unzip p7zip-full clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

presets=("$@")
((${#presets[@]})) || presets=(native)
for preset in "${presets[@]}"; do
  echo "setup: building preset '$preset'"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
done
