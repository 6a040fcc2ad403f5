#!/usr/bin/env bash
# Makes a folder holding two images whose names differ only in case,
# "twin.bmp" (8 x 4) and "TWIN.BMP" (4 x 8). Programs inside Wine cannot
# make such a pair (Wine folds case on every create), so it is made here,
# as a Unix program or a network share could have made it.
# usage: make-case-twins.sh <folder>
set -eu
folder=$1
rm -rf "$folder"
mkdir -p "$folder"

le32() {
    local v=$1
    printf "\\x$(printf %02x $((v & 255)))\\x$(printf %02x $(((v >> 8) & 255)))"
    printf "\\x$(printf %02x $(((v >> 16) & 255)))\\x$(printf %02x $(((v >> 24) & 255)))"
}

# A 24-bit bottom-up BMP of one grey.
bmp() {
    local width=$1 height=$2 path=$3
    local row=$(((width * 3 + 3) / 4 * 4))
    local size=$((row * height))
    {
        printf 'BM'; le32 $((54 + size)); le32 0; le32 54
        le32 40; le32 "$width"; le32 "$height"; printf '\x01\x00\x18\x00'
        le32 0; le32 "$size"; le32 2835; le32 2835; le32 0; le32 0
        head -c "$size" /dev/zero | tr '\0' '\200'
    } >"$path"
}

bmp 8 4 "$folder/twin.bmp"
bmp 4 8 "$folder/TWIN.BMP"
