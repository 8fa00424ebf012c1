#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs a KaldrixPlus .deb into a throw-away root and checks it as an
# operator's PC would see it: the package and its dependencies install, its
# files land where they belong, the program starts from the menu entry's
# command (a simulated board, on a virtual X display, for a few seconds) and
# draws its window, and a purge leaves none of its files behind.
#
#   packaging/install-test.sh DEB [SCREENSHOT]
#
# The throw-away root is an overlay over / in a private mount namespace:
# writes land in a tmpfs that disappears with the namespace, so the host's
# packages and files are untouched. Needs root (uses sudo otherwise).
# SCREENSHOT (default: install-test.png beside the .deb) receives the window.
# ASAN_OPTIONS and UBSAN_OPTIONS are passed on to the program (test.sh packs
# its sanitizer build).
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -f "$1" ]; then
    echo "usage: $0 DEB [SCREENSHOT]" >&2
    exit 2
fi
deb="$(realpath "$1")"
shot="$(realpath -m "${2:-$(dirname "$deb")/install-test.png}")"
if [ "$(id -u)" -ne 0 ]; then
    exec sudo --preserve-env=ASAN_OPTIONS,UBSAN_OPTIONS "$0" "$deb" "$shot"
fi

base="$(mktemp -d /tmp/kx-install-test.XXXXXX)"
trap 'rmdir "$base" 2>/dev/null || true' EXIT
rm -f "$shot"

# Everything below runs in the new mount namespace; its mounts end with it.
timeout 600 unshare -m --propagation private bash -s -- "$deb" "$shot" "$base" <<'NS'
set -euo pipefail
deb="$1"; shot="$2"; base="$3"
mount -t tmpfs -o size=2g kx-install-test "$base"
mkdir "$base/upper" "$base/work" "$base/root"
root="$base/root"
mount -t overlay overlay -o lowerdir=/,upperdir="$base/upper",workdir="$base/work" "$root"
mount --rbind /proc "$root/proc"
mount --rbind /sys "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
# Fresh /tmp and /run: nothing of the host's (no X sockets, no udev control
# socket that the package's scripts could reach).
mount -t tmpfs tmp "$root/tmp"
mount -t tmpfs run "$root/run"
mkdir -p "$root/run/lock"
# No service starts from a package script in here.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
cp "$deb" "$root/tmp/"
echo "throw-away root: overlay over / at $root"

chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp/home \
    LANG=C.UTF-8 ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
    bash -s -- "/tmp/$(basename "$deb")" <<'CHROOT'
set -euo pipefail
deb="$1"
mkdir -p "$HOME"
export DEBIAN_FRONTEND=noninteractive

echo "== apt-get install $deb"
timeout 300 apt-get install -y --no-install-recommends -o Dpkg::Use-Pty=0 "$deb" |
    grep -v '^\(Reading\|Building\) \|^(Reading database' || true
dpkg-query -W -f='${Status} ${Version}\n' kaldrixplus | grep -q '^install ok installed' || {
    echo "FAIL: kaldrixplus is not installed" >&2
    exit 1
}
dpkg-query -W -f='installed: ${Package} ${Version}\nDepends: ${Depends}\n' kaldrixplus
# The test records' libraries, found by dpkg-shlibdeps in what the programs
# link.
depends="$(dpkg-query -W -f='${Depends}' kaldrixplus)"
for lib in libsqlite3-0 libpq5; do
    case ", $depends" in
        *", $lib "* | *", $lib,"* | *", $lib") ;;
        *) echo "FAIL: the package does not depend on $lib" >&2; exit 1 ;;
    esac
done

echo "== files"
for f in /usr/bin/kaldrixplus /usr/bin/kaldrix-probe /usr/bin/kaldrix-records \
    /usr/lib/udev/rules.d/70-kaldrixplus.rules \
    /usr/share/applications/kaldrixplus.desktop \
    /usr/share/icons/hicolor/64x64/apps/kaldrixplus.png \
    /usr/share/kaldrixplus/brand/default.png \
    /usr/share/doc/kaldrixplus/copyright /usr/share/doc/kaldrixplus/changelog.gz; do
    [ -s "$f" ] || { echo "FAIL: missing $f" >&2; exit 1; }
done
[ -x /usr/bin/kaldrixplus ] && [ -x /usr/bin/kaldrix-probe ] && [ -x /usr/bin/kaldrix-records ]
dpkg -L kaldrixplus >/tmp/files
owned=()
while read -r f; do
    [ -d "$f" ] || owned+=("$f")
done </tmp/files
printf '  %s\n' "${owned[@]}"
echo "${#owned[@]} files, all present"

echo "== kaldrix-probe --help"
timeout 20 kaldrix-probe --help >/tmp/probe.txt 2>&1 || {
    cat /tmp/probe.txt >&2
    echo "FAIL: kaldrix-probe --help" >&2
    exit 1
}
head -n 3 /tmp/probe.txt | sed 's/^/  /'

echo "== kaldrix-records --help"
timeout 20 kaldrix-records --help >/tmp/records.txt 2>&1 || {
    cat /tmp/records.txt >&2
    echo "FAIL: kaldrix-records --help" >&2
    exit 1
}
grep -q 'kaldrix-records export' /tmp/records.txt || {
    cat /tmp/records.txt >&2
    echo "FAIL: kaldrix-records --help shows no usage" >&2
    exit 1
}
head -n 3 /tmp/records.txt | sed 's/^/  /'

echo "== the menu entry's command"
exec_line="$(sed -n 's/^Exec=//p' /usr/share/applications/kaldrixplus.desktop | head -n 1)"
# Field codes (%f, %U, ...) stand for files the menu would pass: none here.
command="$(printf '%s' "$exec_line" | sed 's/ *%[a-zA-Z]//g')"
[ -n "$command" ] || { echo "FAIL: no Exec= in the menu entry" >&2; exit 1; }
# Xvfb has no window manager to maximise the window: a size of its own.
set -- $command --simulate one-to-one --size 1200x800 --screenshot /tmp/install-test.png --quit-after 4000
echo "  xvfb-run $*"
status=0
timeout 120 xvfb-run -a -s "-screen 0 1280x900x24" "$@" >/tmp/run.txt 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    tail -n 30 /tmp/run.txt >&2
    echo "FAIL: the program exited with $status" >&2
    exit 1
fi
# A real window: a PNG of a plausible size with more than a handful of
# colours (a blank or black capture has one or two).
python3 - /tmp/install-test.png <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
pos, idat, w = 8, b"", 0
while pos < len(data):
    n, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + n]
    if kind == b"IHDR":
        w, h, depth, ctype = struct.unpack(">IIBB", body[:10])
    elif kind == b"IDAT":
        idat += body
    pos += 12 + n
assert depth == 8 and ctype in (2, 6), "unexpected PNG format"
bpp = 3 if ctype == 2 else 4
raw, stride = zlib.decompress(idat), w * bpp
prev, rows, i = bytearray(stride), [], 0
for _ in range(h):
    f, line = raw[i], bytearray(raw[i + 1:i + 1 + stride])
    i += 1 + stride
    for x in range(stride):
        a = line[x - bpp] if x >= bpp else 0
        b, c = prev[x], prev[x - bpp] if x >= bpp else 0
        if f == 1: line[x] = (line[x] + a) & 255
        elif f == 2: line[x] = (line[x] + b) & 255
        elif f == 3: line[x] = (line[x] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    rows.append(bytes(line))
    prev = line
colours = {r[x:x + 3] for r in rows[::4] for x in range(0, stride, bpp * 4)}
print(f"  screenshot {w} x {h}, {len(data)} bytes, {len(colours)} colours (sampled)")
assert w >= 400 and h >= 300, "window too small"
assert len(colours) >= 16, "blank window"
PY

echo "== dpkg --purge kaldrixplus"
timeout 120 dpkg --purge kaldrixplus
if dpkg-query -W -f='${Status}\n' kaldrixplus 2>/dev/null | grep -q 'installed'; then
    echo "FAIL: still installed" >&2
    exit 1
fi
left=0
for f in "${owned[@]}"; do
    if [ -e "$f" ] || [ -L "$f" ]; then
        echo "FAIL: left behind: $f" >&2
        left=1
    fi
done
for d in /usr/share/kaldrixplus /usr/share/doc/kaldrixplus; do
    if [ -e "$d" ]; then
        echo "FAIL: left behind: $d" >&2
        left=1
    fi
done
[ "$left" -eq 0 ]
echo "  all ${#owned[@]} files gone"
CHROOT
cp "$root/tmp/install-test.png" "$shot"
echo "screenshot: $shot"
NS
echo "throw-away root removed; install test passed"
