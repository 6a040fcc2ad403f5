#!/usr/bin/env bash
# Benchmarks the per-image pipeline at 25 %, in the 32-bit and the 64-bit
# build, against ImageMagick and libvips on a folder of real photographs,
# and prints one table.
#
# usage: bash tools/benchmark.sh [repetitions]     (as root on Debian 12)
#
# Installs what is missing, builds ResizeBenchmark into build-bench/ (32-bit)
# and build-bench64/ (64-bit), each its own build tree and Wine prefix apart
# from build/, assembles the photo set once into build-bench/photos, then
# runs every tool over the whole set `repetitions` times (default 5), one
# repetition of all tools after the other so that drift on a busy machine
# hits every tool alike. A build whose Wine this host cannot execute (a
# kernel without 32-bit support) gets a row saying so.
#
# How each tool is timed:
#   ours          inside the program, per ResizeImageFile call (Wine's own
#                 start is outside the loop, as it is once per batch);
#                 memory is the process's peak working set.
#   the peers     one process per image, wall clock around the process,
#                 memory its peak RSS (/usr/bin/time %M); each image's time
#                 therefore includes the peer's process start.
# Per repetition the median over the images and the total are taken; the
# table shows the medians of those over the repetitions and the largest
# peak seen. A second table splits our builds' time per image into the
# pipeline's steps (batch/StepClock.h), each the median over the images of
# a repetition, then over the repetitions; "after decode" is the sum of the
# steps that follow the decode (preview to rest), as a share of the decode.
# A third table times the whole folder at once: each build's batch (its
# pool of workers, with one worker and with one per processor; the copies
# go into the folder's "Resized", removed after each run), the platform's
# decode of the folder on every processor (ResizeBenchmark decode0), and
# vipsthumbnail run on every processor (xargs -P, one process per photo);
# each figure is the median total over the repetitions. One more row runs
# the batch on every processor over the same photos with an XMP sidecar
# beside each (a camera folder as photo software leaves it), which no
# decoder takes.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
repetitions=${1:-5}
case "$repetitions" in
'' | *[!0-9]* | 0)
    echo "usage: $0 [repetitions]" >&2
    exit 2
    ;;
esac
percent=25

bench_dir=$top/build-bench
declare -A build_dir=([quillmere32]=$top/build-bench [quillmere64]=$top/build-bench64)
declare -A toolchain=([quillmere32]=cmake/mingw-i686.cmake [quillmere64]=cmake/mingw-x86_64.cmake)
cache_dir=$bench_dir/photo-cache
photo_dir=$bench_dir/photos
run_dir=$bench_dir/bench-run
sidecar_dir=$bench_dir/photos-with-sidecars
# The Debian package's own binary, whatever else is earlier on PATH.
magick_convert=/usr/bin/convert

log() { echo "benchmark: $*" >&2; }

# --- tools --------------------------------------------------------------
InstallTools() {
    bash "$top/tools/install-deps.sh"
    local packages=(libvips-tools imagemagick time) missing=() p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        log "installing ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

BuildBenchmark() {
    local build
    for build in quillmere32 quillmere64; do
        if [ ! -f "${build_dir[$build]}/CMakeCache.txt" ]; then
            cmake -S . -B "${build_dir[$build]}" -DCMAKE_TOOLCHAIN_FILE="${toolchain[$build]}" \
                -DCMAKE_BUILD_TYPE=Release >/dev/null
        fi
        cmake --build "${build_dir[$build]}" --target ResizeBenchmark -j"$(nproc)" >/dev/null
    done
}

# --- the photo set --------------------------------------------------------
# Debian's wallpaper packages are the only source of real photographs here.
# The two Lomiri sets hold seven photographs of 8 megapixels or more (the
# smallest is an 8-megapixel camera's 3264 x 2448 frame); six
# more photographs of 6.2 to 6.3 megapixels from the same set are enlarged
# by 16 % (to 8.3 to 8.5 megapixels, re-encoded at quality 95) so that the
# set has thirteen images of at least 8 megapixels. The seven are used as
# shipped, byte for byte; six of them are progressive JPEGs.
photo_packages=(lomiri-wallpapers-16.04 lomiri-wallpapers-20.04)
native_photos=(
    lomiri-wallpapers-16.04/seeding_by_Clements_Engelhardt.jpg
    lomiri-wallpapers-16.04/Dragonfly_by_Bolly.jpg
    lomiri-wallpapers-16.04/sunset_by_Aitzol_Berasategi.jpg
    lomiri-wallpapers-16.04/Bridge_by_Sander_Klootwijk.jpg
    lomiri-wallpapers-16.04/Wine_by_Jakkub_Mede.jpg
    lomiri-wallpapers-16.04/picosdeeuropa_by_Aitzol_Berasategi.jpg
    lomiri-wallpapers-20.04/Kleiber_by_Lukas_Baubkus.jpg
)
enlarged_photos=(
    lomiri-wallpapers-16.04/life_by_Aitzol_Berasategi.jpg
    lomiri-wallpapers-16.04/aitzgorri_by_Aitzol_Berasategi.jpg
    lomiri-wallpapers-16.04/friends_by_Aitzol_Berasategi.jpg
    lomiri-wallpapers-16.04/analogpattern_by_Peter_Nerlich.jpg
    lomiri-wallpapers-16.04/greentock_by_Peter_Nerlich.jpg
    lomiri-wallpapers-16.04/free_by_Peter_Nerlich.jpg
)
# An 8-megapixel camera's frame, 3264 x 2448; one of the seven is exactly that.
min_pixels=7990272

PreparePhotos() {
    # The marker lives beside the folder, not in it: every file in the
    # folder is timed.
    [ -f "$bench_dir/photos.complete" ] && return 0
    local package deb entry source name pixels
    mkdir -p "$cache_dir/debs"
    for package in "${photo_packages[@]}"; do
        if [ -z "$(find "$cache_dir/debs" -name "${package}_*.deb")" ]; then
            log "fetching $package"
            # apt needs its package lists; a fresh machine has none yet.
            apt-cache show "$package" >/dev/null 2>&1 || apt-get update -qq
            if ! (cd "$cache_dir/debs" && apt-get download -qq "$package"); then
                log "could not fetch $package"
                exit 1
            fi
        fi
        deb=$(find "$cache_dir/debs" -name "${package}_*.deb" | head -n 1)
        rm -rf "${cache_dir:?}/$package"
        dpkg-deb -x "$deb" "$cache_dir/$package"
    done

    rm -rf "$photo_dir"
    mkdir -p "$photo_dir"
    for entry in "${native_photos[@]}"; do
        cp "$cache_dir/${entry%%/*}/usr/share/backgrounds/${entry#*/}" "$photo_dir/"
    done
    for entry in "${enlarged_photos[@]}"; do
        source=$cache_dir/${entry%%/*}/usr/share/backgrounds/${entry#*/}
        name=$(basename "$source" .jpg)
        "$magick_convert" "$source" -resize 116% -quality 95 "$photo_dir/${name}_x116.jpg"
    done
    for package in "${photo_packages[@]}"; do
        rm -rf "${cache_dir:?}/$package"
    done
    for source in "$photo_dir"/*.jpg; do
        pixels=$(($(vipsheader -f width "$source") * $(vipsheader -f height "$source")))
        if [ "$pixels" -lt "$min_pixels" ]; then
            echo "benchmark: $source has only $pixels pixels" >&2
            exit 1
        fi
    done
    touch "$bench_dir/photos.complete"
}

# --- Wine -----------------------------------------------------------------
display_dir=$bench_dir/bench-display
started_display=""
started_servers=()
runnable=()

StopWine() {
    local dir
    for dir in "${started_servers[@]}"; do
        (. "$top/tools/wine-env.sh" "$dir" && wineserver -k 2>/dev/null) || true
    done
    if [ -n "$started_display" ]; then
        QmStopDisplay "$display_dir"
    fi
}

# One display for both builds; each build its own prefix and persistent
# server, so that no program start pays for Wine's own start-up.
StartWine() {
    local build dir
    # shellcheck source-path=SCRIPTDIR source=wine-env.sh
    . "$top/tools/wine-env.sh" "$bench_dir"
    if [ -z "${DISPLAY:-}" ] || ! QmDisplayAlive "$DISPLAY"; then
        QmStartDisplay "$display_dir" || exit 1
        started_display=1
    fi
    trap StopWine EXIT
    for build in quillmere32 quillmere64; do
        dir=${build_dir[$build]}
        if (. "$top/tools/wine-env.sh" "$dir" && QmHostRefusesWine); then
            log "${label[$build]}: this host does not execute its Wine; not run"
            continue
        fi
        (. "$top/tools/wine-env.sh" "$dir" && QmEnsurePrefix) || { log "could not create the Wine prefix in $dir"; exit 1; }
        # Fails when this prefix's server already runs; that one is kept.
        if (. "$top/tools/wine-env.sh" "$dir" && wineserver -p </dev/null >/dev/null 2>&1); then
            started_servers+=("$dir")
        fi
        (. "$top/tools/wine-env.sh" "$dir" && QmWine cmd.exe /c exit </dev/null >/dev/null 2>&1)
        runnable+=("$build")
    done
    [ ${#runnable[@]} -gt 0 ] || { log "neither build can run on this host"; exit 1; }
}

# --- measuring --------------------------------------------------------------
NowNs() { date +%s%N; }

# Prints "median total" of the numbers on stdin, one per line, 1 decimal.
SummarizeMilliseconds() {
    sort -g | awk '{ v[NR] = $1; s += $1 }
        END {
            if (NR == 0) { print "nan nan"; exit }
            m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
            printf "%.1f %.1f\n", m, s
        }'
}

Median() {
    sort -g | awk '{ v[NR] = $1 }
        END {
            if (NR == 0) { print "nan"; exit }
            printf "%.1f\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        }'
}

Maximum() { sort -g | tail -n 1; }

# RunPeer <tool> <rep> <command template...>: runs the command once per
# photo; in the template @IN@, @OUT@, @W@ and @H@ stand for the input, the
# output and the target size.
RunPeer() {
    local tool=$1 rep=$2
    shift 2
    local out_dir=$run_dir/out-$tool photo name width height target_w target_h t0 t1 peak_kib=0 kib a
    local args=()
    local ms_file=$run_dir/$tool.rep$rep.ms
    rm -rf "$out_dir"
    mkdir -p "$out_dir"
    : >"$ms_file"
    for photo in "$photo_dir"/*.jpg; do
        name=$(basename "$photo")
        width=$(vipsheader -f width "$photo")
        height=$(vipsheader -f height "$photo")
        target_w=$(((width * percent + 50) / 100))
        target_h=$(((height * percent + 50) / 100))
        args=()
        for a in "$@"; do
            a=${a//@IN@/$photo}
            a=${a//@OUT@/$out_dir/$name}
            a=${a//@W@/$target_w}
            a=${a//@H@/$target_h}
            args+=("$a")
        done
        t0=$(NowNs)
        /usr/bin/time -f "%M" -o "$run_dir/time.out" "${args[@]}" >/dev/null
        t1=$(NowNs)
        awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", (b - a) / 1e6 }' >>"$ms_file"
        kib=$(tail -n 1 "$run_dir/time.out")
        [ "$kib" -gt "$peak_kib" ] && peak_kib=$kib
    done
    awk -v k="$peak_kib" 'BEGIN { printf "%.1f\n", k / 1024 }' >"$run_dir/$tool.rep$rep.peak"
}

# One of our builds over the whole folder in one process.
RunOurs() {
    local tool=$1 rep=$2 out_dir=$run_dir/out-$1 report
    report=$run_dir/$tool.rep$rep.txt
    rm -rf "$out_dir"
    mkdir -p "$out_dir"
    (
        . "$top/tools/wine-env.sh" "${build_dir[$tool]}"
        /usr/bin/time -f "%M" -o "$run_dir/time.out" \
            "$QM_WINE" "${build_dir[$tool]}/tools/ResizeBenchmark.exe" "$(QmWine winepath -w "$photo_dir")" \
            "$(QmWine winepath -w "$out_dir")" "$percent" </dev/null >"$report" 2>/dev/null
    ) || { cat "$report" >&2; log "ResizeBenchmark ($tool) failed"; exit 1; }
    tr -d '\r' <"$report" | awk '/ ms$/ { print $(NF - 1) }' >"$run_dir/$tool.rep$rep.ms"
    # "  steps: header 1.00 decode 2.00 ...": the values, one image a line.
    tr -d '\r' <"$report" | awk '$1 == "steps:" { line = ""; for (i = 3; i <= NF; i += 2) line = line $i " "; print line }' \
        >"$run_dir/$tool.rep$rep.steps"
    tr -d '\r' <"$report" | awk -F': ' '/^peak working set MiB:/ { print $2 }' >"$run_dir/$tool.rep$rep.peak"
    awk -v k="$(tail -n 1 "$run_dir/time.out")" 'BEGIN { printf "%.1f\n", k / 1024 }' >"$run_dir/$tool.rep$rep.rss"
}

# The photos again, each with an XMP sidecar beside it.
PrepareSidecars() {
    local photo
    rm -rf "$sidecar_dir"
    mkdir -p "$sidecar_dir"
    for photo in "$photo_dir"/*.jpg; do
        cp "$photo" "$sidecar_dir/"
        printf '<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"><rdf:Description xmlns:xmp="http://ns.adobe.com/xap/1.0/" xmp:Rating="3"/></rdf:RDF></x:xmpmeta>\n' \
            >"$sidecar_dir/$(basename "$photo" .jpg).xmp"
    done
}

# One of our builds over the whole folder in one run: batch1, batch0 or
# decode0 (ResizeBenchmark's own modes), or sidecars0 (batch0 over the
# photos with their sidecars); the total and the peak memory.
RunWhole() {
    local tool=$1 mode=$2 rep=$3 report=$run_dir/$1.$2.rep$3.txt folder=$photo_dir run_mode=$2
    if [ "$mode" = sidecars0 ]; then
        folder=$sidecar_dir run_mode=batch0
    fi
    rm -rf "$folder/Resized"
    (
        . "$top/tools/wine-env.sh" "${build_dir[$tool]}"
        "$QM_WINE" "${build_dir[$tool]}/tools/ResizeBenchmark.exe" "$(QmWine winepath -w "$folder")" \
            "$(QmWine winepath -w "$run_dir/out-$tool")" "$percent" "$run_mode" </dev/null >"$report" 2>/dev/null
    ) || { cat "$report" >&2; log "ResizeBenchmark $mode ($tool) failed"; exit 1; }
    if [ "$mode" != decode0 ] && [ "$(find "$folder/Resized" -name '*.jpg' | wc -l)" -ne "$photo_count" ]; then
        log "$tool $mode wrote $(find "$folder/Resized" -name '*.jpg' | wc -l) of $photo_count copies"
        exit 1
    fi
    rm -rf "$folder/Resized"
    tr -d '\r' <"$report" | awk -F': ' '/^total ms:/ { print $2 }' >"$run_dir/$tool.$mode.rep$rep.total"
    tr -d '\r' <"$report" | awk -F': ' '/^peak working set MiB:/ { print $2 }' >"$run_dir/$tool.$mode.rep$rep.peak"
}

# vipsthumbnail on every processor: one process per photo, xargs -P.
RunPeerAllCores() {
    local rep=$1 out_dir=$run_dir/out-vipsthumbnail-all list=$run_dir/all-cores.list photo width height t0 t1
    rm -rf "$out_dir"
    mkdir -p "$out_dir"
    : >"$list"
    for photo in "$photo_dir"/*.jpg; do
        width=$(vipsheader -f width "$photo")
        height=$(vipsheader -f height "$photo")
        printf '%s\n%s\n%sx%s\n' "$photo" "$out_dir/$(basename "$photo")[Q=95]" \
            $(((width * percent + 50) / 100)) $(((height * percent + 50) / 100)) >>"$list"
    done
    t0=$(NowNs)
    xargs -d '\n' -n 3 -P "$(nproc)" sh -c 'vipsthumbnail "$0" -s "$2" -o "$1"' <"$list"
    t1=$(NowNs)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f\n", (b - a) / 1e6 }' >"$run_dir/vipsthumbnail-all.rep$rep.total"
    [ "$(find "$out_dir" -name '*.jpg' | wc -l)" -eq "$photo_count" ] || { log "vipsthumbnail on every core wrote too few"; exit 1; }
}

# Every tool must have written every image at the target size (+-1 pixel
# for the tools' own rounding); a tool that skipped work would look fast.
CheckOutputs() {
    local tool photo name width height got_w got_h bad=0
    for tool in "${tools[@]}"; do
        for photo in "$photo_dir"/*.jpg; do
            name=$(basename "$photo")
            width=$(vipsheader -f width "$photo")
            height=$(vipsheader -f height "$photo")
            if [ ! -f "$run_dir/out-$tool/$name" ]; then
                log "$tool wrote no $name"
                bad=1
                continue
            fi
            got_w=$(vipsheader -f width "$run_dir/out-$tool/$name")
            got_h=$(vipsheader -f height "$run_dir/out-$tool/$name")
            if [ $((got_w * 100 - width * percent)) -lt -100 ] || [ $((got_w * 100 - width * percent)) -gt 100 ] ||
                [ $((got_h * 100 - height * percent)) -lt -100 ] || [ $((got_h * 100 - height * percent)) -gt 100 ]; then
                log "$tool wrote $name at ${got_w}x${got_h}"
                bad=1
            fi
        done
    done
    [ "$bad" -eq 0 ] || exit 1
}

# --- main -------------------------------------------------------------------
ours=(quillmere32 quillmere64)
peers=(vipsthumbnail vipsthumbnail-1t vips-resize imagemagick)
declare -A label=(
    [quillmere32]="Quillmere 32-bit (WIC)"
    [quillmere64]="Quillmere 64-bit (WIC)"
    [vipsthumbnail]="vipsthumbnail"
    [vipsthumbnail-1t]="vipsthumbnail, 1 thread"
    [vips-resize]="vips resize"
    [imagemagick]="ImageMagick convert"
)

InstallTools
BuildBenchmark
PreparePhotos
StartWine
rm -rf "$run_dir"
mkdir -p "$run_dir"
tools=("${runnable[@]}" "${peers[@]}")

photo_count=$(find "$photo_dir" -maxdepth 1 -name '*.jpg' | wc -l)
PrepareSidecars
log "$photo_count photos, $repetitions repetitions, scale $percent %"
for rep in $(seq 1 "$repetitions"); do
    log "repetition $rep"
    for tool in "${runnable[@]}"; do
        RunOurs "$tool" "$rep"
    done
    RunPeer vipsthumbnail "$rep" vipsthumbnail @IN@ -s @W@x@H@ -o "@OUT@[Q=95]"
    # Ours runs on one thread; this row shows how much of libvips' lead is its second thread.
    RunPeer vipsthumbnail-1t "$rep" env VIPS_CONCURRENCY=1 vipsthumbnail @IN@ -s @W@x@H@ -o "@OUT@[Q=95]"
    RunPeer vips-resize "$rep" vips resize @IN@ "@OUT@[Q=95]" 0.25
    RunPeer imagemagick "$rep" "$magick_convert" @IN@ -resize "$percent%" -quality 95 @OUT@
    for tool in "${runnable[@]}"; do
        for mode in batch1 batch0 decode0 sidecars0; do
            RunWhole "$tool" "$mode" "$rep"
        done
    done
    RunPeerAllCores "$rep"
done
CheckOutputs

# Per tool: median over repetitions of each repetition's median and total.
declare -A median total peak
for tool in "${tools[@]}"; do
    per_rep=$run_dir/$tool.per-rep
    : >"$per_rep"
    for rep in $(seq 1 "$repetitions"); do
        SummarizeMilliseconds <"$run_dir/$tool.rep$rep.ms" >>"$per_rep"
    done
    median[$tool]=$(awk '{ print $1 }' "$per_rep" | Median)
    total[$tool]=$(awk '{ print $2 }' "$per_rep" | Median)
    peak[$tool]=$(cat "$run_dir/$tool".rep*.peak | Maximum)
done

# Per build and step: median over repetitions of each repetition's median.
step_names=(header decode preview encode metadata move rest)
declare -A step_median
for tool in "${runnable[@]}"; do
    for i in "${!step_names[@]}"; do
        step_median[$tool.$i]=$(for rep in $(seq 1 "$repetitions"); do
            awk -v c=$((i + 1)) '{ print $c }' "$run_dir/$tool.rep$rep.steps" | Median
        done | Median)
    done
done

Ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
Ran() { [ -n "${median[$1]:-}" ]; }

echo
megapixels=$(for photo in "$photo_dir"/*.jpg; do
    echo $(($(vipsheader -f width "$photo") * $(vipsheader -f height "$photo")))
done | sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.1f to %.1f", lo / 1e6, hi / 1e6 }')
echo "$photo_count JPEG photos ($megapixels MP), scale $percent %, $repetitions repetitions, $(nproc) cores"
echo
# Each ratio column is one of our builds' figure divided by the row's.
printf '| %-23s | %15s | %10s | %13s | %31s | %31s |\n' "tool" "median ms/image" "total ms" "peak mem MiB" \
    "32-bit/tool: median, total, mem" "64-bit/tool: median, total, mem"
printf '|%s|%s|%s|%s|%s|%s|\n' "-------------------------" "----------------:" "-----------:" "--------------:" \
    "--------------------------------:" "--------------------------------:"
for tool in "${ours[@]}" "${peers[@]}"; do
    if ! Ran "$tool"; then
        printf '| %-23s | %15s | %10s | %13s | %31s | %31s |\n' "${label[$tool]}" "not run" "-" "-" "-" "-"
        continue
    fi
    columns=()
    for build in "${ours[@]}"; do
        if [ "$build" = "$tool" ] || ! Ran "$build"; then
            columns+=("-")
        else
            columns+=("$(Ratio "${median[$build]}" "${median[$tool]}"), $(Ratio "${total[$build]}" "${total[$tool]}"), $(Ratio "${peak[$build]}" "${peak[$tool]}")")
        fi
    done
    printf '| %-23s | %15s | %10s | %13s | %31s | %31s |\n' "${label[$tool]}" "${median[$tool]}" "${total[$tool]}" \
        "${peak[$tool]}" "${columns[0]}" "${columns[1]}"
done
echo
echo "Median ms per image in each step of the pipeline:"
echo
printf '| %-23s | %8s | %6s | %6s | %7s | %14s | %8s | %5s | %5s | %22s |\n' "build" "ms/image" "header" "decode" \
    "preview" "scale + encode" "metadata" "move" "rest" "after decode / decode"
printf '|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n' "-------------------------" "---------:" "-------:" "-------:" \
    "--------:" "---------------:" "---------:" "------:" "------:" "-----------------------:"
for build in "${ours[@]}"; do
    if ! Ran "$build"; then
        printf '| %-23s | %8s | %6s | %6s | %7s | %14s | %8s | %5s | %5s | %22s |\n' "${label[$build]}" "not run" \
            "-" "-" "-" "-" "-" "-" "-" "-"
        continue
    fi
    after=$(awk -v d="${step_median[$build.1]}" -v p="${step_median[$build.2]}" -v e="${step_median[$build.3]}" \
        -v m="${step_median[$build.4]}" -v v="${step_median[$build.5]}" -v r="${step_median[$build.6]}" \
        'BEGIN { a = p + e + m + v + r; printf "%.1f ms = %.0f %%", a, a * 100 / d }')
    printf '| %-23s | %8s | %6s | %6s | %7s | %14s | %8s | %5s | %5s | %22s |\n' "${label[$build]}" "${median[$build]}" \
        "${step_median[$build.0]}" "${step_median[$build.1]}" "${step_median[$build.2]}" "${step_median[$build.3]}" \
        "${step_median[$build.4]}" "${step_median[$build.5]}" "${step_median[$build.6]}" "$after"
done
echo
for build in "${ours[@]}"; do
    if ! Ran "$build"; then
        echo "${label[$build]}: not run: this host does not execute its Wine"
        continue
    fi
    last_report=$run_dir/$build.rep$repetitions.txt
    frame=$(tr -d '\r' <"$last_report" | awk -F': ' '/^largest frame:/ { print $2 }')
    frame_pixels=$(tr -d '\r' <"$last_report" | awk -F': ' '/^largest frame pixels:/ { print $2 }')
    baseline=$(tr -d '\r' <"$last_report" | awk -F': ' '/^working set before the first image MiB:/ { print $2 }')
    memory_target=$(awk -v p="$frame_pixels" 'BEGIN { printf "%.1f\n", p * 4 / 1048576 + 40 }')
    rss=$(cat "$run_dir/$build".rep*.rss | Maximum)
    time_met=$(awk -v a="${median[$build]}" -v b="${median[vipsthumbnail]}" 'BEGIN { print (a <= b) ? "met" : "NOT met" }')
    memory_met=$(awk -v a="${peak[$build]}" -v b="$memory_target" 'BEGIN { print (a <= b) ? "met" : "NOT met" }')
    echo "${label[$build]}: working set before the first image $baseline MiB; peak RSS of the Wine process $rss MiB (/usr/bin/time)"
    echo "  largest decoded frame: $frame = $frame_pixels pixels"
    echo "  target time:   median ${median[$build]} ms <= vipsthumbnail ${median[vipsthumbnail]} ms: $time_met"
    echo "  target memory: peak ${peak[$build]} MiB <= frame x 4 B + 40 MiB = $memory_target MiB: $memory_met"
done

echo
echo "The whole folder at once ($(nproc) processors), median total over the repetitions:"
echo
whole_rows=()
for build in "${ours[@]}"; do
    Ran "$build" && whole_rows+=("$build.batch1" "$build.batch0" "$build.decode0" "$build.sidecars0")
done
whole_rows+=("vipsthumbnail-all")
declare -A whole_label=([batch1]="batch, 1 worker" [batch0]="batch, every processor" [decode0]="Wine's decode, every processor"
    [sidecars0]="batch, every processor, a sidecar per photo")
declare -A whole_total whole_peak
for row in "${whole_rows[@]}"; do
    whole_total[$row]=$(cat "$run_dir/$row".rep*.total | Median)
    whole_peak[$row]=$( (cat "$run_dir/$row".rep*.peak 2>/dev/null || true) | Maximum)
done
printf '| %-67s | %9s | %12s | %20s | %20s |\n' "run" "total ms" "peak mem MiB" "32-bit all/run" "64-bit all/run"
printf '|%s|%s|%s|%s|%s|\n' "---------------------------------------------------------------------" "----------:" "-------------:" \
    "---------------------:" "---------------------:"
for row in "${whole_rows[@]}"; do
    if [ "$row" = vipsthumbnail-all ]; then
        name="vipsthumbnail, every processor (xargs -P)"
    else
        name="${label[${row%%.*}]}: ${whole_label[${row#*.}]}"
    fi
    columns=()
    for build in "${ours[@]}"; do
        if Ran "$build" && [ "$row" != "$build.batch0" ]; then
            columns+=("$(Ratio "${whole_total[$build.batch0]}" "${whole_total[$row]}")")
        else
            columns+=("-")
        fi
    done
    printf '| %-67s | %9s | %12s | %20s | %20s |\n' "$name" "${whole_total[$row]}" "${whole_peak[$row]:--}" \
        "${columns[0]}" "${columns[1]}"
done
