#!/usr/bin/env bash
# Times the benchmark's photos at 25 % through the real window, beside the
# batch and the platform's decode inside the program, in both builds, and
# prints one table.
#
# usage: bash tools/window-benchmark.sh [repetitions]     (as root on Debian 12)
#
# Builds both programs (tools/build.sh) and uses the photos tools/benchmark.sh
# assembles (it is run once, with one repetition, if they are missing). Each
# repetition copies the photos into a fresh folder and runs, one after the
# other: QuillmereDriver resize (the program started, its folder browser
# steered, the times it prints: browser closed, first copy, last copy, and
# the title back to "Quillmere", all from the moment the folder was chosen),
# then ResizeBenchmark batch0 and decode0 over the same folder. Each figure
# is the median over the repetitions (default 5); "window / decode" is the
# median over the repetitions of the title's end divided by the decode of
# the same repetition, so that a machine's drift between repetitions
# cancels out.
set -euo pipefail

repetitions=${1:-5}
if ! [[ "$repetitions" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [repetitions]" >&2
    exit 2
fi
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
photos=$top/build-bench/photos
bash tools/install-deps.sh >/dev/null
[ -f "$top/build-bench/photos.complete" ] || bash tools/benchmark.sh 1 >/dev/null
run_dir=$(mktemp -d /tmp/qm-window-bench.XXXXXX)
trap 'rm -rf "$run_dir"' EXIT

Median() {
    sort -g | awk '{ v[NR] = $1 }
        END {
            if (NR == 0) { print "nan"; exit }
            printf "%.1f\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        }'
}

# One build's repetitions; each line of $run_dir/<build>.times holds
# closed first last ended batch0 decode0 in ms.
RunBuild() {
    local bits=$1 dir=$2
    bash tools/build.sh "$bits" >/dev/null
    (
        . "$top/tools/wine-env.sh" "$top/$dir"
        if QmHostRefusesWine; then
            echo "benchmark: this host cannot execute the $bits-bit build's Wine; not run" >&2
            exit 0
        fi
        QmEnsurePrefix
        QmStartDisplay "$run_dir/display-$dir" || exit 1
        for rep in $(seq 1 "$repetitions"); do
            work=$run_dir/work
            rm -rf "$work"
            mkdir -p "$work/photos" "$work/out"
            cp "$photos"/*.jpg "$work/photos/"
            folder=$(QmWine winepath -w "$work/photos" 2>/dev/null | tr -d '\r')
            out=$(QmWine winepath -w "$work/out" 2>/dev/null | tr -d '\r')
            timeout 300 "$QM_WINE" "$dir/tests/e2e/QuillmereDriver.exe" resize "$dir/Quillmere.exe" "$folder" 25 \
                </dev/null >"$run_dir/driver.log" 2>/dev/null
            timeout 30 "$QM_WINE" "$dir/tests/e2e/QuillmereDriver.exe" close </dev/null >/dev/null 2>&1 || true
            window=$(tr -d '\r' <"$run_dir/driver.log" | grep -oE '[0-9]+ ms' | awk '{ printf "%s ", $1 }')
            batch=$("$QM_WINE" "$dir/tools/ResizeBenchmark.exe" "$folder" "$out" 25 batch0 2>/dev/null |
                tr -d '\r' | awk -F': ' '/^total ms/ { print $2 }')
            decode=$("$QM_WINE" "$dir/tools/ResizeBenchmark.exe" "$folder" "$out" 25 decode0 2>/dev/null |
                tr -d '\r' | awk -F': ' '/^total ms/ { print $2 }')
            echo "$window$batch $decode" >>"$run_dir/$dir.times"
            echo "benchmark: $bits-bit repetition $rep: closed first last ended batch0 decode0 = $window$batch $decode" >&2
        done
        QmStopDisplay "$run_dir/display-$dir"
    )
}

RunBuild 32 build
RunBuild 64 build64

echo
echo "Through the real window, $(nproc) processors, 13 photos at 25 % (median of $repetitions, ms for the folder):"
echo
printf '| %-6s | %14s | %10s | %9s | %11s | %22s | %30s | %15s |\n' build "browser closed" "first copy" "last copy" \
    "title back" "batch, every processor" "Wine's decode, every processor" "window / decode"
printf '|%s|%s|%s|%s|%s|%s|%s|%s|\n' "--------" "---------------:" "-----------:" "----------:" "------------:" \
    "-----------------------:" "-------------------------------:" "----------------:"
for dir in build build64; do
    [ -s "$run_dir/$dir.times" ] || continue
    for column in 1 2 3 4 5 6; do
        value[$column]=$(awk -v c=$column '{ print $c }' "$run_dir/$dir.times" | Median)
    done
    # In hundredths, as Median keeps one decimal.
    ratio=$(awk '$6 > 0 { print 100 * $4 / $6 }' "$run_dir/$dir.times" | Median | awk '{ printf "%.2f", $1 / 100 }')
    printf '| %-6s | %14.0f | %10.0f | %9.0f | %11.0f | %22s | %30s | %15s |\n' \
        "$([ "$dir" = build ] && echo 32-bit || echo 64-bit)" "${value[1]}" "${value[2]}" "${value[3]}" "${value[4]}" \
        "${value[5]}" "${value[6]}" "$ratio"
done
