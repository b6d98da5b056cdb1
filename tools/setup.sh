#!/bin/bash
# Installs what building and testing need on a Debian 12 machine. Quick when
# everything is already there.
set -e
packages=(
    cmake ninja-build make g++ clang libclang-rt-14-dev
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    googletest libgtest-dev libbenchmark-dev
    wine64 xvfb xauth imagemagick fonts-wqy-microhei locales
    python3-pil python3-numpy
    libjpeg62-turbo-dev libpng-dev libspng-dev zlib1g-dev libdeflate-dev libstb-dev
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    SUDO=; [ "$(id -u)" = 0 ] || SUDO=sudo
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
