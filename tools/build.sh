#!/usr/bin/env bash
# Configures and builds one of the two Windows builds (cross-compiling on
# Linux).
# usage: build.sh [32|64 [target]]
#   32      the 32-bit program, into build/ (the default)
#   64      the 64-bit program, into build64/
#   target  build only this (e.g. Quillmere); default everything
set -eu
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
case "${1:-32}" in
32) dir=build toolchain=cmake/mingw-i686.cmake ;;
64) dir=build64 toolchain=cmake/mingw-x86_64.cmake ;;
*)
    echo "usage: $0 [32|64]" >&2
    exit 2
    ;;
esac
if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$dir" -j"$(nproc)" ${2:+--target "$2"}
