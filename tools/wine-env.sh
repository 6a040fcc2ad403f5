# Shared Wine and virtual-display helpers; sourced with the build directory
# as its argument. Everything Wine writes stays inside the build tree.
QM_BUILD_DIR=$1
QM_SESSION_DIR=$QM_BUILD_DIR/wine-session
export WINEPREFIX=$QM_BUILD_DIR/wineprefix
export WINEARCH=win32
export WINEDEBUG=-all
# Without a network the mono and gecko installers would wait for a dialog.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"

QmDisplayAlive() {
    [ -n "$1" ] && DISPLAY=$1 xdpyinfo >/dev/null 2>&1
}

# Creates the prefix once; a lock keeps parallel tests from racing on it.
QmEnsurePrefix() {
    mkdir -p "$QM_BUILD_DIR"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.qm-ready" ]; then
            rm -rf "$WINEPREFIX"
            DISPLAY= wineboot -i >/dev/null 2>&1
            wineserver -w
            touch "$WINEPREFIX/.qm-ready"
        fi
    ) 9>"$QM_BUILD_DIR/.wineprefix.lock"
    [ -f "$WINEPREFIX/.qm-ready" ]
}

# Starts Xvfb on a free display number plus a window manager, records the
# display and the process ids in <state-dir>, and exports DISPLAY.
QmStartDisplay() {
    local dir=$1 n
    mkdir -p "$dir"
    for n in $(seq 90 190); do
        [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        echo $! >"$dir/xvfb.pid"
        local i
        for i in $(seq 1 100); do
            QmDisplayAlive ":$n" && break
            kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null || break
            sleep 0.05
        done
        if QmDisplayAlive ":$n"; then
            export DISPLAY=":$n"
            echo ":$n" >"$dir/display"
            printf 'RandomPlacement\nUsePPosition "on"\nNoGrabServer\n' >"$dir/twmrc"
            twm -f "$dir/twmrc" >/dev/null 2>&1 &
            echo $! >"$dir/twm.pid"
            sleep 0.2
            return 0
        fi
        kill "$(cat "$dir/xvfb.pid")" 2>/dev/null
    done
    echo "wine-env: could not start a virtual display" >&2
    return 1
}

QmStopDisplay() {
    local dir=$1 f
    for f in twm xvfb; do
        [ -f "$dir/$f.pid" ] && kill "$(cat "$dir/$f.pid")" 2>/dev/null
    done
    rm -rf "$dir"
}
