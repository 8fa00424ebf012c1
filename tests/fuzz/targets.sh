# SPDX-License-Identifier: MIT
# Sourced by run.sh and coverage.sh. present_targets BUILD NAME...: sets
# `present` to the names whose CMake target kx_<name>_fuzz the build folder
# BUILD knows, and `fuzzers` to those targets; says which names it skips.
present_targets() {
    local build="$1"
    shift
    local known
    known="$(cmake --build "$build" --target help)"
    present=()
    fuzzers=()
    for name in "$@"; do
        if grep -qw "kx_${name}_fuzz" <<<"$known"; then
            present+=("$name")
            fuzzers+=("kx_${name}_fuzz")
        else
            echo "== $name: no CMake target kx_${name}_fuzz, skipped"
        fi
    done
}
