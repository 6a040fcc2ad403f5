#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillmere under Wine on the
# user's display.
set -eu
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$top/tools/install-deps.sh"
bash "$top/tools/build.sh"
. "$top/tools/wine-env.sh" "$top/build"
QmEnsurePrefix
exec wine "$top/build/Quillmere.exe"
