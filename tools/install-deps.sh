#!/usr/bin/env bash
# Installs everything a fresh Debian 12 machine needs to build and test Quorvane.
# Idempotent: a second run only checks that the packages are present.
set -euo pipefail

PACKAGES=(
  cmake ninja-build make
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64 fonts-wine
  xvfb xdotool imagemagick x11-utils
  googletest
  7zip
  msitools
  dpkg-dev
  python3
  bc
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Source packages are needed for 7-Zip; enable deb-src once.
if [[ -f /etc/apt/sources.list.d/debian.sources ]] && ! grep -q 'deb-src' /etc/apt/sources.list.d/debian.sources; then
  sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
  apt-get update -qq
fi
