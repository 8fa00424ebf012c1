#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the benchmarks in Release without sanitizers and runs the real-kernel
# one (kx_guest_exchange) in a QEMU guest (tests/kernel/run-in-guest).
# Usage: bench/run-in-guest.sh [benchmark options, e.g. --benchmark_repetitions=5]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/packaging/install-deps.sh"
cmake -S "$root" -B "$root/build/bench" -DCMAKE_BUILD_TYPE=Release -DKALDRIX_TESTS=OFF \
    -DKALDRIX_GUI=ON >/dev/null
cmake --build "$root/build/bench" --target kx_guest_exchange -j"$(nproc)" >/dev/null
cd "$root/build/bench"
"$root/tests/kernel/run-in-guest" --timeout 600 -- ./bench/kx_guest_exchange --benchmark_color=false "$@"
