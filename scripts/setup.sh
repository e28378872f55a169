#!/usr/bin/env bash
# Installs what Kalv3 needs on a Debian machine (only the packages that are missing),
# then configures and builds the presets given as arguments (default: native).
#   scripts/setup.sh [native] [asan] [windows] [bench] [fuzz]
#   scripts/setup.sh native:kalv3,kalvtool   (only those targets of a preset)
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  cmake ninja-build g++ pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libssl-dev libcurl4-openssl-dev libdeflate-dev libz-mingw-w64-dev
  g++-mingw-w64-x86-64 wine wine64 xvfb xauth x11-utils xdotool imagemagick
  zip unzip p7zip-full clang libclang-rt-14-dev python3 openssl
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
for request in "${presets[@]}"; do
  # "preset:target1,target2" builds only those targets of the preset.
  preset=${request%%:*}
  targets=()
  [[ $request == *:* ]] && IFS=, read -ra targets <<< "${request#*:}"
  echo "setup: building preset '$preset'${targets:+ (${targets[*]})}"
  cmake --preset "$preset" >/dev/null
  if ((${#targets[@]})); then
    cmake --build --preset "$preset" -j "$(nproc)" --target "${targets[@]}"
  else
    cmake --build --preset "$preset" -j "$(nproc)"
  fi
done
