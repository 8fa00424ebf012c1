#!/usr/bin/env bash
# Installs what is missing, builds the station and starts it. Without
# arguments it runs on the simulated bus of software boards; arguments are
# handed to the program (kaldrix-probe --help lists them).
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/packaging/install-deps.sh"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DKALDRIX_TESTS=OFF \
    -DKALDRIX_BENCH=OFF
cmake --build "$root/build/release" -j"$(nproc)"
exec "$root/build/release/app/kaldrix-probe" "$@"
