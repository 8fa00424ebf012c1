#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the INI reader's target.
# Usage: tests/fuzz/run.sh [seconds, default 300] [more libFuzzer options]
# Installs clang and its runtime from Debian when they are missing; the
# README's test command does not need them.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-300}"
shift || true
"$root/packaging/install-deps.sh" --fuzz

build="$root/build/fuzz"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKALDRIX_FUZZ=ON -DKALDRIX_SANITIZE=address,undefined -DKALDRIX_GUI=OFF \
    -DKALDRIX_TESTS=OFF -DKALDRIX_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" --target kx_ini_fuzz -j"$(nproc)"

# The corpus grows in the build folder; the seeds in the source tree stay.
corpus="$build/corpus/ini"
mkdir -p "$corpus" "$build/artifacts"
"$build/tests/fuzz/kx_ini_fuzz" "$corpus" "$root/tests/fuzz/seeds" \
    -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -dict="$root/tests/fuzz/ini.dict" -artifact_prefix="$build/artifacts/" \
    -print_final_stats=1 "$@"
