#!/usr/bin/env bash
# Makes the two downloads (tools/package.sh) and checks that each holds what
# a Windows user needs: exactly Quillmere.exe and README.txt, the program for
# its own processor (a win32 package with an x64 program would not start on
# 32-bit Windows), and a README that Notepad shows line by line.
# usage: package-check.sh
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-package-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "package-check: $*" >&2; exit 1; }

bash "$top/tools/package.sh" >"$work/package.log" 2>&1 || { cat "$work/package.log"; fail "tools/package.sh failed"; }
version=$(sed -n 's/^#define QM_VERSION_TEXT *"\(.*\)"/\1/p' "$top/build64/generated/QuillmereVersion.h")
[ -n "$version" ] || fail "no version in build64/generated/QuillmereVersion.h"

# The PE header's machine field: e_lfanew at 0x3c, "PE\0\0", then the machine.
PeMachine() {
    local pe
    pe=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
    [ "$(od -An -c -j "$pe" -N 2 "$1" | tr -d ' ')" = PE ] || return 1
    od -An -t x2 -j $((pe + 4)) -N 2 "$1" | tr -d ' '
}

for row in win32:014c x64:8664; do
    suffix=${row%%:*} machine=${row#*:}
    zip=$top/dist/Quillmere-$version-$suffix.zip
    [ -f "$zip" ] || fail "$zip is missing"
    [ "$(unzip -Z1 "$zip" | sort | tr '\n' ' ')" = "Quillmere.exe README.txt " ] ||
        fail "$zip holds $(unzip -Z1 "$zip" | tr '\n' ' '), expected Quillmere.exe and README.txt"
    mkdir "$work/$suffix" && unzip -q "$zip" -d "$work/$suffix"
    found=$(PeMachine "$work/$suffix/Quillmere.exe") || fail "$suffix: Quillmere.exe is not a PE file"
    [ "$found" = "$machine" ] || fail "$suffix: Quillmere.exe is for machine 0x$found, expected 0x$machine"
    # Stripping must leave the resources; the version block starts with its UTF-16 key.
    LC_ALL=C grep -qaP 'V\x00S\x00_\x00V\x00E\x00R\x00S\x00I\x00O\x00N\x00_\x00I\x00N\x00F\x00O\x00' "$work/$suffix/Quillmere.exe" ||
        fail "$suffix: Quillmere.exe holds no version resource"
    readme=$work/$suffix/README.txt
    grep -q "^Quillmere $version" "$readme" || fail "$suffix: README.txt does not name version $version"
    [ "$(grep -c $'\r$' "$readme")" -eq "$(wc -l <"$readme")" ] || fail "$suffix: README.txt has lines without CRLF"
done
echo "package-check: Quillmere-$version-win32.zip (PE 0x14c) and Quillmere-$version-x64.zip (PE 0x8664), each with Quillmere.exe (version resource included) and README.txt"
