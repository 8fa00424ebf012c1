#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every target for SECONDS, one after
# the other, each with its final statistics.
# Usage: tests/fuzz/run.sh [seconds, default 300] [more libFuzzer options]
#        FUZZ_TARGETS="rawdata ini" tests/fuzz/run.sh 60   (only those)
# Target <name> is the CMake target kx_<name>_fuzz; its corpus grows in
# build/fuzz/corpus/<name>, its seeds are tests/fuzz/seeds/<name> and its
# dictionary, when there is one, tests/fuzz/<name>.dict. A name whose CMake
# target does not exist is skipped with a note.
# Installs clang and its runtime from Debian when they are missing; the
# README's test command does not need them.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-300}"
shift || true
targets=(ini rawdata device_info station)
if [ -n "${FUZZ_TARGETS:-}" ]; then
    read -r -a targets <<<"$FUZZ_TARGETS"
fi
"$root/packaging/install-deps.sh" --fuzz

build="$root/build/fuzz"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKALDRIX_FUZZ=ON -DKALDRIX_SANITIZE=address,undefined -DKALDRIX_GUI=OFF \
    -DKALDRIX_TESTS=OFF -DKALDRIX_BENCH=OFF "${launcher[@]}" >/dev/null

# The targets the build knows; the others are skipped.
source "$root/tests/fuzz/targets.sh"
present_targets "$build" "${targets[@]}"
[ ${#present[@]} -eq 0 ] && exit 0
cmake --build "$build" -j"$(nproc)" --target "${fuzzers[@]}"

# The corpora grow in the build folder; the seeds in the source tree stay.
status=0
for name in "${present[@]}"; do
    corpus="$build/corpus/$name"
    artifacts="$build/artifacts/$name"
    mkdir -p "$corpus" "$artifacts"
    inputs=("$corpus")
    [ -d "$root/tests/fuzz/seeds/$name" ] && inputs+=("$root/tests/fuzz/seeds/$name")
    options=()
    [ -f "$root/tests/fuzz/$name.dict" ] && options+=(-dict="$root/tests/fuzz/$name.dict")
    echo "== $name: ${seconds} s"
    log="$build/$name.log"
    if ! "$build/tests/fuzz/kx_${name}_fuzz" "${inputs[@]}" \
        -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 "${options[@]}" "$@" 2>"$log"; then
        status=1
        echo "== $name: FAILED, see $log and $artifacts"
    fi
    grep -E '^#[0-9]+.*(DONE|INITED)|^stat::' "$log" || true
done
exit "$status"
