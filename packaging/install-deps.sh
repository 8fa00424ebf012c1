#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian 12 packages that build, test and run KaldrixPlus, and
# only those that are missing (a machine that has them all is left alone).
# With --test, also clang and its sanitizer runtime, with which test.sh
# builds the Qt-free core under ThreadSanitizer, and PostgreSQL, whose
# server the records forwarding test starts; with
# --fuzz, clang and its sanitizer runtime for the fuzz targets; with
# --package, lintian, which checks the Debian package (build-deb.sh); with
# --soak, gnuplot and gawk for bench/soak.sh. --test and --package add udev,
# which the package depends on: the install test (install-test.sh) then
# installs it without fetching anything.
set -euo pipefail

packages=(
    cmake g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev qt6-multimedia-dev
    # The camera window at run time: Qt Multimedia with its GStreamer media
    # plugin (Debian 12 ships the plugin in libqt6multimedia6) and the video
    # widget; GStreamer's base and good plugins bring videoconvert, v4l2src
    # and jpegdec.
    libqt6multimedia6 libqt6multimediawidgets6
    libhidapi-dev libudev-dev
    # The test records: SQLite, and libpq for the line's PostgreSQL server.
    libsqlite3-dev libpq-dev
    libgtest-dev libbenchmark-dev
    fonts-liberation fonts-noto-cjk
    # Qt's own texts (standard buttons, the file chooser) in Chinese.
    qt6-translations-l10n
    # lrelease builds the English translation into the program; lupdate
    # (the translation test) checks it holds every text.
    qt6-l10n-tools qt6-tools-dev
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    xvfb xauth
)
case "${1:-}" in
    --test) packages+=(clang libclang-rt-14-dev udev postgresql) ;;
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    --package) packages+=(lintian udev) ;;
    --soak) packages+=(gnuplot-nox gawk) ;;
esac

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
