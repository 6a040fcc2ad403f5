#!/usr/bin/env bash
# A Windows developer without GoogleTest must still get the program: CMake
# configures a throwaway 64-bit tree whose GoogleTest can be found neither
# from sources nor installed, must say so in one line, and the program must
# build there. Only Quillmere.exe is built, to keep this cheap.
# usage: no-gtest-check.sh
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-no-gtest.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "no-gtest-check: $*" >&2; exit 1; }

# The cross toolchain finds packages only under the mingw-w64 root, where no
# GoogleTest is installed.
cmake -S "$top" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQM_GTEST_SOURCE_DIR="$work/no-such-folder" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; fail "configuring without GoogleTest failed"; }
[ "$(grep -c 'Tests left out' "$work/configure.log")" -eq 1 ] ||
    { cat "$work/configure.log"; fail "expected one line saying the tests are left out"; }
(cd "$work/build" && ctest -N) | grep -q 'Total Tests: 0' || fail "tests were configured without GoogleTest"
cmake --build "$work/build" --target Quillmere -j"$(nproc)" >"$work/build.log" 2>&1 ||
    { tail -n 30 "$work/build.log"; fail "the program did not build without GoogleTest"; }
[ -f "$work/build/Quillmere.exe" ] || fail "no Quillmere.exe after the build"
echo "no-gtest-check: configured without GoogleTest ($(grep 'Tests left out' "$work/configure.log" | sed 's/^-- //')), and Quillmere.exe built"
