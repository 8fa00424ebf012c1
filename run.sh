#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds the station and starts it.
#
#   ./run.sh                  demonstration mode: a software one-to-one board
#                             (kaldrixplus --simulate one-to-one)
#   ./run.sh --real           the station on the real USB bus (tester boards)
#   ./run.sh ARGS...          the program with these arguments (--help lists them)
#
# On a machine without a display the station runs under xvfb-run and, unless
# the arguments say otherwise, writes its window to build/kaldrixplus.png
# after a few seconds and quits.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/packaging/install-deps.sh"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DKALDRIX_TESTS=OFF \
    -DKALDRIX_BENCH=OFF
cmake --build "$root/build/release" -j"$(nproc)" --target kaldrixplus kaldrix-probe kaldrix-records
program="$root/build/release/app/kaldrixplus"

args=("$@")
if [ ${#args[@]} -eq 0 ]; then
    args=(--simulate one-to-one)
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    unattended=no
    for a in "${args[@]}"; do
        case "$a" in
            --screenshot | --quit-after | --help | -h | --version) unattended=yes ;;
        esac
    done
    if [ "$unattended" = no ]; then
        shot="$root/build/kaldrixplus.png"
        args+=(--size 1280x800 --screenshot "$shot" --quit-after 5000)
        echo "run.sh: no display; the station runs under xvfb-run for 5 s and" \
            "writes its window to $shot"
    fi
    exec xvfb-run -a -s "-screen 0 1920x1080x24" env QT_QPA_PLATFORM=xcb "$program" "${args[@]}"
fi
exec "$program" "${args[@]}"
