# Shared Wine and virtual-display helpers; sourced with the build directory
# as its argument. Everything Wine writes stays inside the build tree.
QM_BUILD_DIR=$1
QM_SESSION_DIR=$QM_BUILD_DIR/wine-session
export WINEPREFIX=$QM_BUILD_DIR/wineprefix
# The build says which Wine it needs (CMake writes <build>/wine-arch): a
# 64-bit program runs only in a 64-bit prefix. Trees without the file are
# 32-bit ones.
WINEARCH=$(cat "$QM_BUILD_DIR/wine-arch" 2>/dev/null || true)
case "$WINEARCH" in
win64) ;;
*) WINEARCH=win32 ;;
esac
export WINEARCH
# The loader to start programs with. Debian's `wine` always goes through the
# 32-bit loader when it is installed, which hands 64-bit programs on to
# wine64; on a host that cannot execute 32-bit programs that first step
# already fails, so a 64-bit tree starts wine64 itself.
QM_WINE=wine
if [ "$WINEARCH" = win64 ]; then
    if [ -x /usr/lib/wine/wine64 ]; then
        QM_WINE=/usr/lib/wine/wine64
    elif command -v wine64 >/dev/null 2>&1; then
        QM_WINE=$(command -v wine64)
    fi
    # Wine starts further processes through WINELOADER.
    export WINELOADER=$QM_WINE
fi
export WINEDEBUG=-all
# Without a network the mono and gecko installers would wait for a dialog.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"

# Runs a Windows program (or one of Wine's own, such as winepath) with this
# tree's loader.
QmWine() {
    "$QM_WINE" "$@"
}

# True when this host's kernel refuses to execute this tree's Wine loader,
# as one built or booted without 32-bit support does with the 32-bit one.
QmHostRefusesWine() {
    local answer
    answer=$("$QM_WINE" --version 2>&1 >/dev/null) && return 1
    case "$answer" in
    *"Exec format error"*) return 0 ;;
    esac
    return 1
}

QmDisplayAlive() {
    [ -n "$1" ] && DISPLAY=$1 xdpyinfo >/dev/null 2>&1
}

# The architecture a finished prefix was made for; an empty marker comes
# from before the marker recorded it, when every prefix was 32-bit.
QmPrefixArch() {
    local arch
    arch=$(cat "$WINEPREFIX/.qm-ready" 2>/dev/null) || return 1
    echo "${arch:-win32}"
}

# Creates the prefix once (again if it was made for the other architecture);
# a lock keeps parallel tests from racing on it.
QmEnsurePrefix() {
    mkdir -p "$QM_BUILD_DIR"
    (
        flock 9
        if [ "$(QmPrefixArch)" != "$WINEARCH" ]; then
            wineserver -k 2>/dev/null
            rm -rf "$WINEPREFIX"
            if DISPLAY= "$QM_WINE" wineboot -i >/dev/null 2>&1; then
                wineserver -w
                echo "$WINEARCH" >"$WINEPREFIX/.qm-ready"
            fi
        fi
    ) 9>"$QM_BUILD_DIR/.wineprefix.lock"
    [ "$(QmPrefixArch)" = "$WINEARCH" ]
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
