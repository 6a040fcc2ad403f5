#!/usr/bin/env bash
# Installs what is missing, builds both programs and runs every test on each:
# the 32-bit build (build/) under 32-bit Wine, then the 64-bit build
# (build64/) under 64-bit Wine. Tests labelled one-build (slow, and proving
# nothing new the second time) run in the 64-bit build only. Arguments are
# passed to both ctest runs. Before them, checks that need no Wine: the
# portable layer (photo/) built natively with its tests, again under the
# sanitizers, and a short run of each of its fuzz targets; a second compiler
# over the sources; a configure without GoogleTest; and the two downloads.
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$top/tools/install-deps.sh" || exit 1
bash "$top/tools/build.sh" 32 || exit 1
bash "$top/tools/build.sh" 64 || exit 1

status=0
summary=()
# RunSuite <name> <build-dir> [ctest arguments...]
RunSuite() {
    local name=$1 dir=$top/$2 started rc
    shift 2
    # A host whose kernel does not execute 32-bit programs cannot start
    # 32-bit Wine at all; say so instead of failing every test.
    if (. "$top/tools/wine-env.sh" "$dir" && QmHostRefusesWine); then
        echo "test: the $name suite cannot run on this host: its kernel does not execute Wine's $name loader"
        summary+=("$name build: built; its tests NOT RUN (the host does not execute $name programs)")
        return
    fi
    started=$(date +%s)
    (cd "$dir" && ctest --output-on-failure "$@")
    rc=$?
    [ "$rc" -eq 0 ] || status=1
    summary+=("$name build: $([ "$rc" -eq 0 ] && echo passed || echo FAILED) in $(($(date +%s) - started)) s")
}

# RunCheck <script> <what it shows>: the checks that need no Wine.
RunCheck() {
    local started=$(date +%s)
    if bash "$top/tools/$1"; then
        summary+=("$2: passed in $(($(date +%s) - started)) s")
    else
        status=1
        summary+=("$2: FAILED")
    fi
}

RunCheck native-test.sh "photo/ natively: tests, sanitizers, 30 s of each fuzz target"
RunCheck clang-check.sh "clang, both targets"
RunCheck no-gtest-check.sh "configure and build without GoogleTest"
RunCheck package-check.sh "downloads for Windows"
RunSuite 32-bit build -LE one-build "$@"
RunSuite 64-bit build64 "$@"
echo
printf 'test: %s\n' "${summary[@]}"
exit $status
