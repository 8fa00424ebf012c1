#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A soak without a person: the station in demonstration mode with a board of
# every family at once (one-to-one, Velmora5, a 3 x 2 master board, classic),
# all unplugged and plugged back every PLUG_CYCLE seconds (default 30), for
# HOURS hours (fractions allowed: 0.05 is three minutes). Every 10 s the
# station's resident memory, threads and open descriptors are written to
# build/soak-run/soak.csv; at the end build/soak-run/soak.png plots them and the
# script judges growth:
#   warm-up: a tenth of the run, or the first 10 minutes of a run of 100
#     minutes or more;
#   memory: the median of the last sixth of the run may exceed the median of
#     the sixth after the warm-up by at most 2 % (and 1 MiB);
#   threads and descriptors: the highest value after the warm-up may not
#     exceed the highest value seen during the warm-up.
# Exits non-zero when the station did not exit 0 or anything grew.
# Usage: bench/soak.sh HOURS [output folder, default build/soak-run]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
hours="${1:?usage: bench/soak.sh HOURS [output folder]}"
out="${2:-$root/build/soak-run}"
cycle="${PLUG_CYCLE:-30}"
interval=10
"$root/packaging/install-deps.sh" --soak

seconds="$(awk -v h="$hours" 'BEGIN { s = int(h * 3600 + 0.5); if (s < 60) s = 60; print s }')"
build="$root/build/soak"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKALDRIX_TESTS=OFF \
    -DKALDRIX_BENCH=OFF >/dev/null
cmake --build "$build" --target kaldrixplus -j"$(nproc)" >/dev/null
mkdir -p "$out"
csv="$out/soak.csv"
log="$out/station.log"

# The offscreen platform draws the window as a real display would, without
# an X server to keep alive for hours.
export QT_QPA_PLATFORM=offscreen
"$build/app/kaldrixplus" --simulate one-to-one --simulate velmora5 --simulate master:3x2 \
    --simulate classic --plug-cycle "$cycle" --quit-after "$((seconds * 1000))" \
    --screenshot "$out/last-window.png" >"$log" 2>&1 &
pid=$!
echo "soak: station $pid for ${seconds} s, plug cycle ${cycle} s, samples in $csv"

echo "time_s,rss_kib,threads,fds,cpu_s" >"$csv"
ticks="$(getconf CLK_TCK)"
start="$(date +%s)"
while kill -0 "$pid" 2>/dev/null; do
    now=$(($(date +%s) - start))
    rss="$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)"
    threads="$(awk '/^Threads:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)"
    fds="$(ls "/proc/$pid/fd" 2>/dev/null | wc -l)"
    cpu="$(awk -v t="$ticks" '{ printf "%.2f", ($14 + $15) / t }' "/proc/$pid/stat" 2>/dev/null || true)"
    if [ -n "$rss" ] && [ -n "$threads" ]; then
        echo "$now,$rss,$threads,$fds,$cpu" >>"$csv"
    fi
    sleep "$interval" &
    wait $! || true
done
status=0
wait "$pid" || status=$?
echo "soak: station exited with $status"
cycles="$(sed -n 's/^kaldrixplus: \([0-9]*\) plug cycles.*/\1/p' "$log")"

gnuplot <<EOF
set terminal pngcairo size 1200,800 font "sans,10"
set output "$out/soak.png"
set datafile separator ","
set key autotitle columnhead
set multiplot layout 3,1 title "KaldrixPlus soak: every family, plug cycle ${cycle} s"
set xlabel "minutes"
set ylabel "RSS (MiB)"
plot "$csv" using (\$1/60):(\$2/1024) with lines lw 2 title "resident memory"
set ylabel "threads"
set yrange [0:*]
plot "$csv" using (\$1/60):3 with steps lw 2 title "threads"
set ylabel "descriptors"
plot "$csv" using (\$1/60):4 with steps lw 2 title "open descriptors"
unset multiplot
EOF

verdict=0
gawk -F, -v total="$seconds" '
    BEGIN { n = 0 }
    NR == 1 { next }
    { t[n] = $1; rss[n] = $2; thr[n] = $3; fd[n] = $4; n++ }
    function median(a, from, to,    i, k, v, tmp) {
        k = 0
        for (i = from; i < to; i++) v[k++] = a[i]
        asort(v, tmp)
        return k == 0 ? 0 : (k % 2 ? tmp[(k + 1) / 2] : (tmp[k / 2] + tmp[k / 2 + 1]) / 2)
    }
    END {
        warm = total >= 6000 ? 600 : total / 10
        for (i = 0; i < n && t[i] < warm; i++) ;
        w = i
        if (n - w < 6) { print "soak: too few samples after the warm-up"; exit 1 }
        part = int((n - w) / 6); if (part < 1) part = 1
        early = median(rss, w, w + part); late = median(rss, n - part, n)
        maxThrWarm = 0; maxFdWarm = 0
        for (i = 0; i <= w && i < n; i++) { if (thr[i] > maxThrWarm) maxThrWarm = thr[i]; if (fd[i] > maxFdWarm) maxFdWarm = fd[i] }
        maxThr = 0; maxFd = 0; minThr = 1e9; minFd = 1e9
        for (i = w; i < n; i++) {
            if (thr[i] > maxThr) maxThr = thr[i]; if (fd[i] > maxFd) maxFd = fd[i]
            if (thr[i] < minThr) minThr = thr[i]; if (fd[i] < minFd) minFd = fd[i]
        }
        printf "soak: %d samples over %d s; warm-up %d s\n", n, t[n - 1], warm
        printf "soak: rss first sample %.1f MiB, median after warm-up %.1f MiB, median at the end %.1f MiB (%+.2f %%)\n", rss[0] / 1024, early / 1024, late / 1024, early ? 100 * (late - early) / early : 0
        printf "soak: threads after warm-up %d..%d (warm-up max %d); descriptors %d..%d (warm-up max %d)\n", minThr, maxThr, maxThrWarm, minFd, maxFd, maxFdWarm
        bad = 0
        if (late > early * 1.02 && late - early > 1024) { print "soak: memory grew"; bad = 1 }
        if (maxThr > maxThrWarm) { print "soak: threads grew"; bad = 1 }
        if (maxFd > maxFdWarm) { print "soak: descriptors grew"; bad = 1 }
        if (!bad) print "soak: no growth after the warm-up"
        exit bad
    }' "$csv" || verdict=1
echo "soak: ${cycles:-no} plug cycles done; plot $out/soak.png"
[ "$status" -eq 0 ] && [ "$verdict" -eq 0 ]
