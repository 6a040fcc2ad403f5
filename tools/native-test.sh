#!/usr/bin/env bash
# Builds and runs the portable layer (photo/) natively on this host:
#   1. its tests with the host compiler (build-native/plain),
#   2. the same tests under AddressSanitizer and UndefinedBehaviorSanitizer
#      (clang, build-native/sanitize),
#   3. each libFuzzer target for QM_FUZZ_SECONDS (default 30) from its seed
#      corpus, failing on any finding (build-native/sanitize).
# usage: native-test.sh [all|tests|fuzz|seeds]  (default all)
#   seeds  rewrites the seed corpora in tests/native/fuzz/corpus/
# Run a target longer by hand:
#   build-native/sanitize/fuzz_<target> -max_total_time=600 <work dir> tests/native/fuzz/corpus/<target>
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native=$top/build-native
jobs=$(nproc)
targets=(jpeg_header frame_size image_size tiff_orientation metadata_edit splice)

Configure() { # <dir> [cmake arguments...]
    local dir=$1
    shift
    [ -f "$dir/CMakeCache.txt" ] || cmake -S "$top/tests/native" -B "$dir" "$@" >/dev/null || return 1
    cmake --build "$dir" -j"$jobs" >/dev/null || cmake --build "$dir" -j1
}

RunTests() {
    Configure "$native/plain" || return 1
    (cd "$native/plain" && ctest --output-on-failure) || return 1
    Configure "$native/sanitize" -DCMAKE_CXX_COMPILER=clang++ -DQM_SANITIZE=ON -DQM_FUZZ=ON || return 1
    (cd "$native/sanitize" && ctest --output-on-failure)
}

RunFuzz() {
    local seconds=${QM_FUZZ_SECONDS:-30} target work status=0
    Configure "$native/sanitize" -DCMAKE_CXX_COMPILER=clang++ -DQM_SANITIZE=ON -DQM_FUZZ=ON || return 1
    for target in "${targets[@]}"; do
        work=$native/fuzz-work/$target
        rm -rf "$work" && mkdir -p "$work"
        if (cd "$work" && "$native/sanitize/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
                -print_final_stats=1 . "$top/tests/native/fuzz/corpus/$target" >log 2>&1); then
            echo "fuzz $target: $(grep -E '^#[0-9]+.*DONE' "$work/log" | tail -1)"
        else
            echo "fuzz $target: FINDING (see $work/log and the crash- file beside it)"
            tail -30 "$work/log"
            status=1
        fi
    done
    return $status
}

case "${1:-all}" in
tests) RunTests ;;
fuzz) RunFuzz ;;
seeds)
    Configure "$native/plain" && for t in "${targets[@]}"; do mkdir -p "$top/tests/native/fuzz/corpus/$t"; done &&
        "$native/plain/MakeSeeds" "$top"
    ;;
all) RunTests && RunFuzz ;;
*)
    echo "usage: $0 [all|tests|fuzz|seeds]" >&2
    exit 2
    ;;
esac
