#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes every picture of the manual (docs/manual.md, docs/manual.en.md) again,
# into docs/manual/, from the station in demonstration mode and from the
# preview programs:
#
#   docs/make_screenshots.sh              every picture
#   docs/make_screenshots.sh NAME...      only these (e.g. main-zh baseline-en)
#   docs/make_screenshots.sh --list       the names
#
# Builds what it needs first: the station and the preview programs in
# Release in build/release (configured as ./run.sh does, so the two share
# the build), and the grid's rendering program in build/render (it is built
# with the benchmarks, which run.sh leaves out). Each picture is taken under
# its own xvfb-run with a time limit; a picture that could not be made is
# named with the end of its program's output, the others are still made,
# and the script ends with status 1. A picture that was made replaces the
# old one only then. English pictures are the same run with --lang en (the
# station) or KALDRIX_LANG=en (the previews).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/docs/manual"
release="$root/build/release"
render="$root/build/render"
station="$release/app/kaldrixplus"
# Enough for the slowest picture (the records preview tests seven panels);
# a picture that takes longer has hung.
limit=40

# name|how: the pictures, in the manual's order. `how` is a function below
# and its arguments.
pictures=(
    "main-zh|shot 1280x800 2500 --simulate one-to-one --still"
    "main-en|shot 1280x800 2500 --simulate one-to-one --still --lang en"
    # A failing head: the records preview's first failing panel, channel 12
    # pressed over its limit. (A timed screenshot of the demonstration's
    # touches misses the touch on a busy machine.)
    "fail-zh|preview 1280x800 zh records records_fail.png"
    "fail-en|preview 1280x800 en records records_fail.png"
    "master-zh|shot 1280x800 4000 --simulate master:3x2"
    "master-en|shot 1280x800 4000 --simulate master:3x2 --lang en"
    # The grid alone: one head's colours with the FPC test's green marks,
    # and the four verdicts.
    "grid-colours|grid --rows 1 --columns 1 --size 1280x520 --fill mixed --fpc"
    "verdicts|grid --rows 2 --columns 2 --size 1280x800 --fill verdicts"
    "idle-none-zh|shot 1280x800 3000 --simulate none"
    "idle-none-en|shot 1280x800 3000 --simulate none --lang en"
    # The idle screen's other states. A one-to-one board for machine 2 while
    # the standard type is checked: made with today's options.
    "idle-type-zh|shot 1280x800 3000 --simulate one-to-one:TARSEL_DEV2 --machine 0"
    "idle-type-en|shot 1280x800 3000 --simulate one-to-one:TARSEL_DEV2 --machine 0 --lang en"
    # A board whose node the user may not open (--refuse: the software
    # board refuses at the simulated bus's open; the message box that comes
    # up too is printed and answered, as in every unattended run).
    "idle-permission-zh|shot 1280x800 4000 --simulate master --refuse permission"
    "idle-permission-en|shot 1280x800 4000 --simulate master --refuse permission --lang en"
    # The board in use unplugged 1.5 s after the start.
    "idle-unplugged-zh|shot 1280x800 4000 --simulate one-to-one --unplug-after 1500"
    "idle-unplugged-en|shot 1280x800 4000 --simulate one-to-one --unplug-after 1500 --lang en"
    # No udev monitor, as on a station without a udev daemon.
    "idle-udev-zh|shot 1280x800 4000 --simulate none --no-udev"
    "idle-udev-en|shot 1280x800 4000 --simulate none --no-udev --lang en"
    # The baseline dialog on the smallest screen the line uses, over the
    # window, as the operator sees it.
    "baseline-zh|preview 1024x600 zh baseline baseline_screen.png"
    "baseline-en|preview 1024x600 en baseline baseline_screen.png"
    "about-zh|preview 1280x800 zh about about_runoff.png"
    "about-en|preview 1280x800 en about about_runoff.png"
    "about-master-zh|preview 1280x800 zh about about_master.png"
    "about-master-en|preview 1280x800 en about about_master.png"
    "records-strip-zh|preview 1280x800 zh records records_main.png"
    "records-strip-en|preview 1280x800 en records records_main.png"
    "records-zh|preview 1280x800 zh records records_window.png"
    "records-en|preview 1280x800 en records records_window.png"
    "camera-zh|camera 1280x800 zh"
    "camera-en|camera 1280x800 en"
)

if [ "${1:-}" = --list ]; then
    for p in "${pictures[@]}"; do echo "${p%%|*}"; done
    exit 0
fi
wanted=("$@")
for w in "${wanted[@]}"; do
    found=no
    for p in "${pictures[@]}"; do
        [ "${p%%|*}" = "$w" ] && found=yes
    done
    if [ "$found" = no ]; then
        echo "make_screenshots.sh: no picture named $w (--list names them)" >&2
        exit 2
    fi
done

"$root/packaging/install-deps.sh"
cmake -S "$root" -B "$release" -DCMAKE_BUILD_TYPE=Release -DKALDRIX_TESTS=OFF \
    -DKALDRIX_BENCH=OFF >/dev/null
cmake --build "$release" -j"$(nproc)" --target kaldrixplus kaldrix-about-preview \
    kaldrix-baseline-preview kaldrix-records-preview kaldrix-camera-check
cmake -S "$root" -B "$render" -DCMAKE_BUILD_TYPE=Release -DKALDRIX_TESTS=OFF \
    -DKALDRIX_BENCH=ON >/dev/null
cmake --build "$render" -j"$(nproc)" --target kx_grid_render

mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The pictures do not depend on this machine's user: no remembered device
# type or recent files (state.ini), no records settings, a records database
# of their own.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"

# Each runs one program for picture $name and leaves it in $work/$name.png;
# its output goes to $work/$name.log.

# shot SIZE MS ARGS...: the station's window at SIZE after MS milliseconds.
shot() {
    local size="$1" ms="$2"
    shift 2
    timeout "$limit" xvfb-run -a -s "-screen 0 ${size}x24" env QT_QPA_PLATFORM=xcb \
        "$station" "$@" --size "$size" --screenshot "$work/$name.png" --quit-after "$ms"
}

# grid ARGS...: the grid's rendering program (no window, no language).
grid() {
    timeout "$limit" env QT_QPA_PLATFORM=offscreen "$render/bench/kx_grid_render" "$@" \
        --out "$work/$name.png"
}

# preview SCREEN LANG PROGRAM FILE: one picture of a preview program, on a
# screen of that size (the dialogs are real windows there). A program writes
# several pictures in one run: a second picture of the same run takes its
# file from the first. It runs in the home folder, where the menu entry
# starts the station: the baseline dialog shows its raw-data file's path.
preview() {
    local screen="$1" lang="$2" program="$3" file="$4"
    local folder="$work/$program-$lang-$screen"
    if [ ! -e "$folder/done" ]; then
        rm -rf "$folder"
        (cd "$HOME" && timeout "$limit" xvfb-run -a -s "-screen 0 ${screen}x24" \
            env QT_QPA_PLATFORM=xcb KALDRIX_LANG="$lang" \
            "$release/tools/kaldrix-$program-preview" "$folder") || return
        touch "$folder/done"
    fi
    cp "$folder/$file" "$work/$name.png"
}

# camera SCREEN LANG: the camera window (as "创建视频窗口" opens it) on the
# first camera, here none.
camera() {
    timeout "$limit" xvfb-run -a -s "-screen 0 ${1}x24" env QT_QPA_PLATFORM=xcb \
        KALDRIX_LANG="$2" "$release/tools/kaldrix-camera-check" --screenshot "$work/$name.png"
}

failed=()
start=$(date +%s)
for p in "${pictures[@]}"; do
    name="${p%%|*}"
    if [ ${#wanted[@]} -gt 0 ]; then
        case " ${wanted[*]} " in
            *" $name "*) ;;
            *) continue ;;
        esac
    fi
    read -r -a how <<<"${p#*|}"
    t0=$(date +%s)
    status=0
    "${how[@]}" >"$work/$name.log" 2>&1 || status=$?
    if [ "$status" -eq 0 ] && [ -s "$work/$name.png" ]; then
        mv "$work/$name.png" "$out/$name.png"
        echo "docs/manual/$name.png ($(($(date +%s) - t0)) s)"
    else
        echo "make_screenshots.sh: $name could not be made (exit status $status):" >&2
        tail -n 5 "$work/$name.log" | sed 's/^/    /' >&2
        failed+=("$name")
    fi
done
echo "pictures took $(($(date +%s) - start)) s"
if [ ${#failed[@]} -gt 0 ]; then
    echo "make_screenshots.sh: not made: ${failed[*]}" >&2
    exit 1
fi
