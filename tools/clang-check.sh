#!/usr/bin/env bash
# A second compiler's opinion: clang reads every product source for both
# Windows targets, against the same mingw-w64 headers GCC builds with, and
# any warning fails. What one compiler lets pass and the other does not is
# code that may not build, or not mean the same, with Visual Studio.
# usage: clang-check.sh      (exit status 0 only when both targets are clean)
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
command -v clang++ >/dev/null || { echo "clang-check: clang++ is missing (tools/install-deps.sh installs it)" >&2; exit 1; }
# Globbed, so that a new file is checked the day it is added.
shopt -s nullglob
sources=(app/*.cpp batch/*.cpp imaging/*.cpp photo/*.cpp)
# The project's own definitions and include folders (CMakeLists.txt); the
# generated version header is only read by the resource script.
flags=(-fsyntax-only -std=c++17 -Wall -Wextra -Werror
       -DUNICODE -D_UNICODE -DNOMINMAX -D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -I. -Ires)
resource_dir=$(clang++ -print-resource-dir)

status=0
for triple in i686-w64-mingw32 x86_64-w64-mingw32; do
    # Without -nostdinc clang would also read the Linux host's own headers.
    gcc_dir=$(ls -d /usr/lib/gcc/$triple/*-posix 2>/dev/null | sort -V | tail -n 1)
    [ -n "$gcc_dir" ] || { echo "clang-check: no mingw-w64 -posix compiler for $triple" >&2; exit 1; }
    cxx=$gcc_dir/include/c++
    headers=(-nostdinc -isystem "$cxx" -isystem "$cxx/$triple" -isystem "$cxx/backward"
             -isystem "$resource_dir/include" -isystem "/usr/$triple/include")
    # One file per clang, both cores busy.
    if ! printf '%s\0' "${sources[@]}" |
        xargs -0 -n 1 -P "$(nproc)" clang++ --target="$triple" "${headers[@]}" "${flags[@]}"; then
        echo "clang-check: $triple: clang found something (above)" >&2
        status=1
    fi
done
[ "$status" -eq 0 ] && echo "clang-check: ${#sources[@]} sources clean for i686 and x86_64"
exit $status
