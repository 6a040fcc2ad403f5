#!/usr/bin/env bash
# Installs what building and testing need on Debian 12; does nothing when
# everything is already there. Run as root.
set -eu
# Both cross compilers (32- and 64-bit programs); wine64 runs the 64-bit
# ones, wine32 the 32-bit ones.
# clang checks the sources as a second compiler and builds the native tests
# of photo/ (g++ builds them too) under the sanitizers, with its fuzz targets
# (libclang-rt-14-dev brings those runtimes); zip and unzip make and check
# the downloads.
packages=(cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32:i386 wine64
          xvfb xauth x11-utils twm xfonts-base xdotool imagemagick googletest
          g++ clang libclang-rt-14-dev zip unzip)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
