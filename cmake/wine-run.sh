#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest (CMAKE_CROSSCOMPILING_EMULATOR).
# usage: wine-run.sh <build-dir> <program.exe> [args...]
#
# The Wine prefix lives inside the build tree and is created once. If a test
# session (tools/wine-session.sh) is running, its display and persistent
# wineserver are used; otherwise, with no DISPLAY given, a private virtual
# display with a window manager is started for this one program and stopped
# again afterwards.
set -u
build_dir=$(cd "$1" && pwd); shift
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../tools/wine-env.sh
. "$here/../tools/wine-env.sh" "$build_dir"

QmEnsurePrefix || exit 1

started_display=""
if [ -f "$QM_SESSION_DIR/display" ] && QmDisplayAlive "$(cat "$QM_SESSION_DIR/display")"; then
    export DISPLAY=$(cat "$QM_SESSION_DIR/display")
elif [ -z "${DISPLAY:-}" ] || ! QmDisplayAlive "$DISPLAY"; then
    QmStartDisplay "$QM_BUILD_DIR/wine-run.$$" || exit 1
    started_display="$QM_BUILD_DIR/wine-run.$$"
fi

QmWine "$@"
rc=$?
if [ -n "$started_display" ]; then
    QmStopDisplay "$started_display"
fi
exit $rc
