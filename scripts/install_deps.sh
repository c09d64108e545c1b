#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config ccache
  libsdl2-dev libx11-dev libxext-dev libgtk-3-dev xvfb libgtest-dev zlib1g-dev libdeflate-dev libsnappy-dev
  clang libclang-rt-14-dev
  libpixman-1-dev libpng-dev libjpeg62-turbo-dev libwebp-dev libgif-dev
  lua5.4
  libfreetype-dev libfontconfig-dev fonts-ipafont-gothic fonts-ipafont-mincho
  libvorbis-dev libogg-dev libsndfile1-dev
  libglib2.0-dev dbus-daemon
  libtheora-dev libavformat-dev libavcodec-dev libswscale-dev libswresample-dev
  libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  as_root=()
  if [[ $(id -u) -ne 0 ]]; then as_root=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -q
  "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
