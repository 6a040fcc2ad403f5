#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillmere under Wine on the
# user's display. Without a display (DISPLAY unset, or no X server answers
# on it) there is nobody to click, so tools/demo.sh shows the program at
# work on a virtual display instead: it resizes a copy of samples/ through
# the real window and saves a screenshot.
# usage: run.sh [32|64]   (default 32: the 32-bit build in build/; 64: build64/)
# A host whose kernel does not execute 32-bit programs gets the 64-bit build.
set -eu
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bits=${1:-32}
case "$bits" in
32) dir=$top/build ;;
64) dir=$top/build64 ;;
*)
    echo "usage: $0 [32|64]" >&2
    exit 2
    ;;
esac
bash "$top/tools/install-deps.sh"
if [ "$bits" = 32 ] && (. "$top/tools/wine-env.sh" "$dir" && QmHostRefusesWine); then
    echo "This host does not execute 32-bit programs; starting the 64-bit build (build64/) instead."
    bits=64 dir=$top/build64
fi
bash "$top/tools/build.sh" "$bits"
. "$top/tools/wine-env.sh" "$dir"
if QmDisplayAlive "${DISPLAY:-}"; then
    QmEnsurePrefix
    exec "$QM_WINE" "$dir/Quillmere.exe"
fi
echo "No display to show Quillmere on (DISPLAY is '${DISPLAY:-}'); running the headless demo."
exec bash "$top/tools/demo.sh" "$dir"
