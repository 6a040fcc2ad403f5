#!/usr/bin/env bash
# Shows Quillmere at work where there is no screen: starts a virtual display
# with a window manager, resizes a copy of samples/ through the real window
# and the real folder browser, prints where the outputs went, saves a
# screenshot of the window with its last preview, and stops what it started.
# The repository is left untouched: the samples are copied to a temporary
# folder first.
# usage: demo.sh [build-dir [screenshot.png [percent]]]
#   build-dir   a build made by tools/build.sh (default: build)
#   screenshot  where to save the picture (default: <build-dir>/demo-screenshot.png)
#   percent     10, 25, 50, 75, 125 or 150 (default: 25)
set -eu
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
# A kernel without 32-bit support cannot start a 32-bit tree's Wine; the
# 64-bit build shows the same.
if (. "$top/tools/wine-env.sh" "$build" && QmHostRefusesWine); then
    echo "demo: this host does not execute 32-bit programs; showing the 64-bit build ($top/build64) instead."
    build=$top/build64
fi
shot=${2:-$build/demo-screenshot.png}
percent=${3:-25}
program=$build/Quillmere.exe
driver=$build/tests/e2e/QuillmereDriver.exe
for f in "$program" "$driver"; do
    [ -f "$f" ] || { echo "demo: $f is missing; build first (tools/build.sh, or tools/build.sh 64 for build64)" >&2; exit 1; }
done

. "$top/tools/wine-env.sh" "$build"
QmEnsurePrefix || { echo "demo: could not create the Wine prefix" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-demo.XXXXXX")
display_state=$work/display
cleanup() {
    # Never leave the program running, whatever went wrong.
    if [ -n "${DISPLAY:-}" ] && DISPLAY=$DISPLAY xdotool search --name '^Quillmere$' >/dev/null 2>&1; then
        timeout 30 "$QM_WINE" "$driver" close >/dev/null 2>&1 || true
    fi
    # Let Wine's own helper processes leave before their display goes away;
    # a test session's persistent server keeps them, so there is no waiting.
    if [ ! -f "$QM_SESSION_DIR/display" ]; then
        timeout 10 wineserver -w 2>/dev/null || true
    fi
    QmStopDisplay "$display_state"
}
trap cleanup EXIT
QmStartDisplay "$display_state" || exit 1

mkdir -p "$work/samples"
cp "$top"/samples/* "$work/samples/"
folder=$(QmWine winepath -w "$work/samples" 2>/dev/null)

echo "Resizing $work/samples by $percent % in Quillmere (display $DISPLAY)..."
# Into a file, not a pipe: the program started by the driver inherits the
# output and would hold a pipe open for as long as it runs.
status=0
timeout 120 "$QM_WINE" "$driver" resize "$program" "$folder" "$percent" </dev/null >"$work/driver.log" 2>/dev/null || status=$?
sed 's/\r$//' "$work/driver.log"
if [ "$status" -ne 0 ]; then
    echo "demo: the driver failed (status $status)" >&2
    exit 1
fi

window=$(xdotool search --name '^Quillmere$' | head -n 1)
mkdir -p "$(dirname "$shot")"
# -frame takes the window manager's title bar along with the menu bar and
# the client area.
import -frame -window "$window" "$shot"
echo "Screenshot: $shot"

timeout 30 "$QM_WINE" "$driver" close </dev/null >"$work/driver.log" 2>/dev/null || true
sed 's/\r$//' "$work/driver.log"
rm -f "$work/driver.log"
echo "Outputs are in $work/samples/Resized"
