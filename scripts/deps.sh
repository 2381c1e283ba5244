#!/bin/bash
# Installs what the build and the tests need on Debian 12 (as root).
set -euo pipefail
# Once per run of a script that calls others which call this one too.
[ -z "${QUENZIL_DEPS_DONE:-}" ] || exit 0
packages=(
  cmake make g++ googletest libboost1.81-dev nlohmann-json3-dev libssl-dev openssl python3
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix
  wine64 xvfb xauth x11-apps imagemagick fonts-wqy-microhei fonts-wine
  xdotool
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [ "${#missing[@]}" -gt 0 ] || [ -n "${CI:-}" ]; then
  $SUDO apt-get update -q
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
