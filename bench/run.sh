#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the benchmarks in Release without sanitizers and runs them.
# Usage: bench/run.sh [benchmark options, e.g. --benchmark_filter=Runoff]
#        bench/run.sh PROGRAM [its options]   builds and runs that one program
#                                             of bench/, e.g. kx_paint_latency
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/packaging/install-deps.sh"
# With the Qt parts: the grid's repaint is measured too (offscreen platform).
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
cmake -S "$root" -B "$root/build/bench" -DCMAKE_BUILD_TYPE=Release -DKALDRIX_TESTS=OFF \
    -DKALDRIX_GUI=ON >/dev/null
if [[ "${1:-}" == kx_* ]]; then
    program="$1"
    shift
    cmake --build "$root/build/bench" --target "$program" -j"$(nproc)" >/dev/null
    exec "$root/build/bench/bench/$program" "$@"
fi
cmake --build "$root/build/bench" -j"$(nproc)" >/dev/null
for b in "$root"/build/bench/bench/kx_*_bench; do
    "$b" "$@"
done
