#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The real-kernel lane: runs each kernel test program of a build in its own
# guest (tests/kernel/run-in-guest), one boot per program, and prints one
# summary line. The build must have been made already.
#
#   tests/kernel/lane.sh BUILD_DIR [gtest options, e.g. --gtest_filter=RealBus.*]
#
# Each program's output is kept in BUILD_DIR/kernel-lane/PROGRAM.log.
# Sanitizer options of the caller (ASAN_OPTIONS, UBSAN_OPTIONS) are handed
# to the guest, which otherwise starts with an empty environment.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if (($# < 1)) || [[ ! -d $1 ]]; then
    echo "usage: tests/kernel/lane.sh BUILD_DIR [gtest options]" >&2
    exit 2
fi
build="$(cd "$1" && pwd)"
shift

# The programs of the lane; a new one is added here and in CMakeLists.txt.
# The windows' program exists only in builds with the windows.
programs=(tests/kernel/kx_kernel_tests)
if grep -q '^KALDRIX_GUI:BOOL=OFF$' "$build/CMakeCache.txt" 2>/dev/null; then
    echo "kernel lane: a build without the windows: no camera or main window test"
else
    programs+=(tests/kernel/kx_kernel_window_tests)
fi

# The programs run from the build tree and read files from the source tree
# whose paths the build baked in: the guest must see both where the host
# does, also when they lie under /tmp, which is otherwise the guest's own.
host_dirs=(--host-dir "$build")
source_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
if [[ -n $source_dir && -d $source_dir ]]; then
    host_dirs+=(--host-dir "$source_dir")
fi

lane="$build/kernel-lane"
mkdir -p "$lane"
cd "$lane" # shared read-write with the guest
environment=(GTEST_COLOR=no)
for v in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
    if [[ -n ${!v:-} ]]; then
        environment+=("$v=${!v}")
    fi
done

passed=0 failed=0 skipped=0 status=0
skip_notes=()
started=$(date +%s)
for p in "${programs[@]}"; do
    name=$(basename "$p")
    if [[ ! -x $build/$p ]]; then
        echo "kernel lane: $build/$p is not built" >&2
        exit 1
    fi
    echo "kernel lane: $name in a guest"
    program_started=$(date +%s)
    set +e
    "$here/run-in-guest" --timeout 600 "${host_dirs[@]}" -- env "${environment[@]}" "$build/$p" "$@" |
        tee "$lane/$name.log"
    s=${PIPESTATUS[0]}
    set -e
    echo "kernel lane: $name took $(($(date +%s) - program_started)) s"
    # gtest's closing lines: "[  PASSED  ] N tests." and "[  FAILED  ] N tests, listed below:"
    n=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$lane/$name.log" | tail -n1)
    f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below:.*/\1/p' "$lane/$name.log" | tail -n1)
    k=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}, listed below:.*/\1/p' "$lane/$name.log" | tail -n1)
    passed=$((passed + ${n:-0}))
    failed=$((failed + ${f:-0}))
    skipped=$((skipped + ${k:-0}))
    # A skipped test's reason is the line after gtest's "FILE:LINE: Skipped".
    while IFS= read -r reason; do
        skip_notes+=("$name: $reason")
    done < <(sed -n '/: Skipped$/{n;p}' "$lane/$name.log")
    if ((s != 0)); then
        status=1
        if [[ -z $f ]]; then
            failed=$((failed + 1)) # the program failed before gtest counted
        fi
        echo "kernel lane: $name exited with status $s"
    fi
done
echo "kernel lane took $(($(date +%s) - started)) s"
for note in "${skip_notes[@]}"; do
    echo "kernel lane: skipped in $note"
done
echo "kernel: $passed passed, $failed failed, $skipped skipped"
exit $status
