#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package of the station: a Release build of kaldrixplus,
# kaldrix-probe and kaldrix-records in build/deb (hardened with Debian's own build flags),
# packed by CPack into build/deb/kaldrixplus_<version>_<arch>.deb, then
# checked with lintian (installed by install-deps.sh --package).
#   packaging/build-deb.sh [-jN]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/deb"
jobs="-j$(nproc)"
case "${1:-}" in
    -j*) jobs="$1" ;;
    "") ;;
    *) echo "usage: $0 [-jN]" >&2; exit 2 ;;
esac

"$root/packaging/install-deps.sh" --package

# Debian's hardening flags (fortify, stack protector, relro, bindnow), as
# dpkg-buildflags gives them to a package build; without -g: the binaries are
# stripped anyway.
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cxxflags="$(flags CPPFLAGS) $(flags CXXFLAGS | sed 's/\(^\| \)-g\( \|$\)/ /')"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DKALDRIX_TESTS=OFF -DKALDRIX_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)"
cmake --build "$build" --target kaldrixplus kaldrix-probe kaldrix-records "$jobs"

rm -f "$build"/kaldrixplus_*.deb
(cd "$build" && cpack -G DEB)
deb="$(ls "$build"/kaldrixplus_*.deb)"
echo "package: $deb"

echo "lintian:"
lintian --display-info --pedantic "$deb" || status=$?
# lintian exits non-zero on errors only (warnings do not fail the build).
exit "${status:-0}"
