#!/usr/bin/env bash
# Starts or stops the shared environment of a test run: the Wine prefix, a
# virtual display with a window manager (only when no usable DISPLAY is
# given) and a persistent wineserver, which makes each program start cheap.
# usage: wine-session.sh start|stop <build-dir>
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=$(mkdir -p "$2" && cd "$2" && pwd)
. "$here/wine-env.sh" "$build_dir"

case "$1" in
start)
    "$0" stop "$build_dir"
    QmEnsurePrefix || { echo "wine-session: could not create the Wine prefix" >&2; exit 1; }
    mkdir -p "$QM_SESSION_DIR"
    if [ -n "${DISPLAY:-}" ] && QmDisplayAlive "$DISPLAY"; then
        echo "$DISPLAY" >"$QM_SESSION_DIR/display"
    else
        QmStartDisplay "$QM_SESSION_DIR" || exit 1
    fi
    # Daemons must not hold CTest's output pipe open, or the run never ends:
    # the server and Wine's own services start here with no inherited output.
    wineserver -p </dev/null >/dev/null 2>&1
    DISPLAY=$(cat "$QM_SESSION_DIR/display") QmWine cmd.exe /c exit </dev/null >/dev/null 2>&1
    echo "wine session on display $(cat "$QM_SESSION_DIR/display")"
    ;;
stop)
    wineserver -k 2>/dev/null
    [ -d "$QM_SESSION_DIR" ] && QmStopDisplay "$QM_SESSION_DIR"
    exit 0
    ;;
*)
    echo "usage: $0 start|stop <build-dir>" >&2
    exit 2
    ;;
esac
