#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Line coverage of the code each fuzz target exercises: builds the targets
# with clang's source-based coverage (no sanitizers), runs each once over
# its corpus (build/fuzz/corpus/<name>, grown by run.sh) and its seeds with
# libFuzzer's -runs=0, and prints llvm-cov's line coverage of the target's
# own sources and their total (columns: lines, missed lines, line cover;
# llvm-cov names files below their common folder).
# Usage: tests/fuzz/coverage.sh [target names, default every target]
# A name without a CMake target kx_<name>_fuzz is skipped with a note.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(ini rawdata device_info station)
"$root/packaging/install-deps.sh" --fuzz
profdata="$(command -v llvm-profdata-14 || command -v llvm-profdata)"
llvmcov="$(command -v llvm-cov-14 || command -v llvm-cov)"

# The sources under test of each target, folders allowed.
sources_of() {
    case "$1" in
        ini) echo config/ini_file.cpp config/config_file.cpp config/legacy_config.cpp ;;
        rawdata) echo dialogs/raw_data_file.cpp config/file_access.cpp ;;
        device_info) echo station/device_info.cpp hid/firmware_text.cpp ;;
        station) echo station/station_core.cpp hid station/device_info.cpp ;;
        *) echo . ;;
    esac
}

build="$root/build/fuzz-cov"
flags="-fprofile-instr-generate -fcoverage-mapping"
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g0" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" -DKALDRIX_FUZZ=ON -DKALDRIX_GUI=OFF \
    -DKALDRIX_TESTS=OFF -DKALDRIX_BENCH=OFF >/dev/null
# The targets the build knows; the others are skipped.
source "$root/tests/fuzz/targets.sh"
present_targets "$build" "${targets[@]}"
[ ${#present[@]} -eq 0 ] && exit 0
cmake --build "$build" -j"${COVERAGE_JOBS:-$(nproc)}" --target "${fuzzers[@]}" >/dev/null

for name in "${present[@]}"; do
    binary="$build/tests/fuzz/kx_${name}_fuzz"
    profiles="$build/profiles/$name"
    rm -rf "$profiles"
    mkdir -p "$profiles"
    inputs=()
    for dir in "$root/build/fuzz/corpus/$name" "$root/tests/fuzz/seeds/$name"; do
        [ -d "$dir" ] && inputs+=("$dir")
    done
    count=0
    [ ${#inputs[@]} -gt 0 ] && count="$(find "${inputs[@]}" -type f | wc -l)"
    echo "== $name: $count inputs"
    [ "$count" -eq 0 ] && continue
    # Each input once; nothing is added to the corpus.
    LLVM_PROFILE_FILE="$profiles/%p.profraw" "$binary" -runs=0 -max_len=65536 \
        "${inputs[@]}" >"$profiles/run.log" 2>&1 || echo "   (the run failed, see $profiles/run.log)"
    "$profdata" merge -sparse "$profiles"/*.profraw -o "$profiles/merged.profdata"
    read -r -a sources <<<"$(sources_of "$name")"
    (cd "$root" && "$llvmcov" report "$binary" -instr-profile="$profiles/merged.profdata" \
        -show-region-summary=false -show-instantiation-summary=false \
        -show-functions=false "${sources[@]}") |
        awk 'NR == 1 { printf "   %-40s %8s %8s %8s\n", "file", "lines", "missed", "cover" }
             NF >= 10 && $1 !~ /^-|^Filename/ { printf "   %-40s %8s %8s %8s\n", $1, $5, $6, $7 }'
done
