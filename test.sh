#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing (clang and its sanitizer runtime too); builds
# everything with AddressSanitizer and UndefinedBehaviorSanitizer (g++),
# runs the whole test suite and installs, starts and purges the Debian
# package of that build in a throw-away root (packaging/install-test.sh;
# needs root or sudo); then builds the Qt-free core and its tests with clang
# and ThreadSanitizer and runs them; last, the real-kernel lane runs the
# ASan build's kernel tests in a QEMU guest (tests/kernel/lane.sh, which
# installs QEMU and the kernel it boots).
# The code must build warning-free with clang as well as with g++: the
# ThreadSanitizer build is clang's, so a clang warning in the Qt-free core
# or its tests fails the command as a g++ one does in the first build. The
# windows' code is left out of it, as Debian's Qt is not instrumented (a
# clang build of the whole tree is "cmake -DCMAKE_CXX_COMPILER=clang++").
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
jobs="$(nproc)"
"$root/packaging/install-deps.sh" --test

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

# Line tables (-g1) are all the sanitizers' stack traces need, and cost far
# less to compile and link than full debug information. The benchmarks are
# not built here: bench/run.sh builds them in Release.
cmake -S "$root" -B "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O1" -DKALDRIX_SANITIZE=address,undefined \
    -DKALDRIX_BENCH=OFF
cmake --build "$root/build/asan" -j"$jobs"
ctest --test-dir "$root/build/asan" --output-on-failure -j"$jobs"

# The Debian package, made of this build (a Release build would cost minutes;
# cpack packs what is built), installed, started from its menu entry and
# purged in a throw-away root (packaging/install-test.sh). Leaks are the
# test suite's business; the program here runs on X, not offscreen.
rm -f "$root"/build/asan/kaldrixplus_*.deb
(cd "$root/build/asan" && cpack -G DEB >/dev/null)
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
    "$root/packaging/install-test.sh" "$root"/build/asan/kaldrixplus_*.deb

# clang's ThreadSanitizer build of the Qt-free core: its races and clang's
# warnings in one build.
cmake -S "$root" -B "$root/build/tsan" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O1" -DKALDRIX_SANITIZE=thread -DKALDRIX_GUI=OFF \
    -DKALDRIX_BENCH=OFF
cmake --build "$root/build/tsan" -j"$jobs"
ctest --test-dir "$root/build/tsan" --output-on-failure -j"$jobs"

"$root/tests/kernel/lane.sh" "$root/build/asan"
