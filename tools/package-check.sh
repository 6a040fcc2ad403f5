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

# PeWord <file> <offset>: the 16-bit word that many bytes past the PE
# signature (e_lfanew at 0x3c, then "PE\0\0"), in hex: 4 the machine, 22 the
# characteristics, 24 the optional header's magic.
PeWord() {
    local pe
    pe=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
    [ "$(od -An -c -j "$pe" -N 2 "$1" | tr -d ' ')" = PE ] || return 1
    od -An -t x2 -j $((pe + $2)) -N 2 "$1" | tr -d ' '
}

# Each package: its machine and optional header (PE32 0x10b, PE32+ 0x20b).
for row in win32:014c:010b x64:8664:020b; do
    IFS=: read -r suffix machine magic <<<"$row"
    zip=$top/dist/Quillmere-$version-$suffix.zip
    [ -f "$zip" ] || fail "$zip is missing"
    [ "$(unzip -Z1 "$zip" | sort | tr '\n' ' ')" = "Quillmere.exe README.txt " ] ||
        fail "$zip holds $(unzip -Z1 "$zip" | tr '\n' ' '), expected Quillmere.exe and README.txt"
    mkdir "$work/$suffix" && unzip -q "$zip" -d "$work/$suffix"
    exe=$work/$suffix/Quillmere.exe
    found=$(PeWord "$exe" 4) || fail "$suffix: Quillmere.exe is not a PE file"
    [ "$found" = "$machine" ] || fail "$suffix: Quillmere.exe is for machine 0x$found, expected 0x$machine"
    found=$(PeWord "$exe" 24)
    [ "$found" = "$magic" ] || fail "$suffix: Quillmere.exe has optional header magic 0x$found, expected 0x$magic"
    # The 32-bit program must say it handles addresses past 2 GiB
    # (IMAGE_FILE_LARGE_ADDRESS_AWARE), or it gets only 2 GiB of them.
    if [ "$suffix" = win32 ] && (( (0x$(PeWord "$exe" 22) & 0x20) == 0 )); then
        fail "$suffix: Quillmere.exe is not large-address-aware (characteristics 0x$(PeWord "$exe" 22))"
    fi
    # Stripping must leave the resources; the version block starts with its UTF-16 key.
    LC_ALL=C grep -qaP 'V\x00S\x00_\x00V\x00E\x00R\x00S\x00I\x00O\x00N\x00_\x00I\x00N\x00F\x00O\x00' "$work/$suffix/Quillmere.exe" ||
        fail "$suffix: Quillmere.exe holds no version resource"
    readme=$work/$suffix/README.txt
    grep -q "^Quillmere $version" "$readme" || fail "$suffix: README.txt does not name version $version"
    [ "$(grep -c $'\r$' "$readme")" -eq "$(wc -l <"$readme")" ] || fail "$suffix: README.txt has lines without CRLF"
done
echo "package-check: Quillmere-$version-win32.zip (PE32 0x14c, large-address-aware) and Quillmere-$version-x64.zip (PE32+ 0x8664), each with Quillmere.exe (version resource included) and README.txt"
