#!/usr/bin/env bash
# Makes the downloads for Windows users: dist/Quillmere-<version>-win32.zip
# and dist/Quillmere-<version>-x64.zip, each holding Quillmere.exe and a
# README.txt for its user.
# usage: package.sh      (as root on Debian 12: installs what is missing)
#
# The programs are the ones the test command tests: the Release builds in
# build/ and build64/ (made here when missing; only Quillmere.exe is built).
set -eu
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
bash tools/install-deps.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p dist

# <bits> <build-dir> <mingw triple> <package suffix>
Package() {
    local dir=$2 triple=$3 suffix=$4 version zip
    bash tools/build.sh "$1" Quillmere >/dev/null
    grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$dir/CMakeCache.txt" ||
        { echo "package: $dir is not a Release build; remove it and run again" >&2; exit 1; }
    # The version CMake wrote from project(VERSION), as the About box shows it.
    version=$(sed -n 's/^#define QM_VERSION_TEXT *"\(.*\)"/\1/p' "$dir/generated/QuillmereVersion.h")
    rm -rf "${work:?}/$suffix" && mkdir "$work/$suffix"
    # Symbols only help a debugger; the user gets the program without them.
    "$triple-strip" -o "$work/$suffix/Quillmere.exe" "$dir/Quillmere.exe"
    # Notepad before Windows 10 shows a file without CR as one long line.
    sed -e "s/@VERSION@/$version/" -e 's/$/\r/' docs/README-windows.txt >"$work/$suffix/README.txt"
    zip="dist/Quillmere-$version-$suffix.zip"
    rm -f "$zip"
    (cd "$work/$suffix" && zip -q -X "$top/$zip" Quillmere.exe README.txt)
    echo "package: $zip"
}

Package 32 build i686-w64-mingw32 win32
Package 64 build64 x86_64-w64-mingw32 x64
