#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The whole station's CPU in demonstration mode, as a fraction of one core:
# software boards at full-speed USB pace, the acquisition worker, the grid and
# the window, measured by the program itself (--cpu-report: getrusage of the
# process from the end of a warm-up to the end of the run).
#
#   bench/station_load.sh [seconds per case, default 20]
#
# Builds kaldrixplus in Release (build/bench). The window is 1920 x 1080. It
# runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise; with
# QT_QPA_PLATFORM=xcb and no display it runs under xvfb-run (the X server's
# own work is then not counted: it is another process).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-20}"
"$root/packaging/install-deps.sh"
cmake -S "$root" -B "$root/build/bench" -DCMAKE_BUILD_TYPE=Release -DKALDRIX_TESTS=OFF \
    -DKALDRIX_GUI=ON >/dev/null
cmake --build "$root/build/bench" -j"$(nproc)" --target kaldrixplus >/dev/null
program="$root/build/bench/app/kaldrixplus"

platform="${QT_QPA_PLATFORM:-offscreen}"
runner=()
if [ "$platform" = xcb ] && [ -z "${DISPLAY:-}" ]; then
    runner=(xvfb-run -a -s "-screen 0 1920x1080x24")
fi
# Each case its own runtime folder: no second-instance warning.
runtime="$(mktemp -d)"
trap 'rm -rf "$runtime"' EXIT

run_case() {
    local name="$1"
    shift
    local line
    line="$(XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM="$platform" "${runner[@]}" "$program" \
        "$@" --size 1920x1080 --warmup 3000 --quit-after $((seconds * 1000 + 3000)) \
        --cpu-report 2>/dev/null | grep 'cpu ')"
    printf '%-44s %s\n' "$name" "${line#kaldrixplus: }"
}

echo "platform $platform, $seconds s per case after a 3 s warm-up"
run_case "master 10 x 10, live values" --simulate master:10x10
run_case "one-to-one 1 x 1, live values" --simulate one-to-one
run_case "master 10 x 10, nothing changing" --simulate master:10x10 --still
run_case "one-to-one 1 x 1, nothing changing" --simulate one-to-one --still
run_case "no board (idle screen)" --simulate none
