#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillmere under Wine on the
# user's display. Without a display (DISPLAY unset, or no X server answers
# on it) there is nobody to click, so tools/demo.sh shows the program at
# work on a virtual display instead: it resizes a copy of samples/ through
# the real window and saves a screenshot.
set -eu
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$top/tools/install-deps.sh"
bash "$top/tools/build.sh"
. "$top/tools/wine-env.sh" "$top/build"
if QmDisplayAlive "${DISPLAY:-}"; then
    QmEnsurePrefix
    exec wine "$top/build/Quillmere.exe"
fi
echo "No display to show Quillmere on (DISPLAY is '${DISPLAY:-}'); running the headless demo."
exec bash "$top/tools/demo.sh" "$top/build"
