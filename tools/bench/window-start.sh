#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Start-up cost of the window program against a bare widget window of the same size with a
# label and a button: the time from process start to the first mapped top-level window (and
# the processor time used by then, which a busy machine disturbs far less) and the resident
# memory one second later, median of alternating runs, under a virtual X server.
# The program is a release build against the adapter emulator (an adapter attached) with its
# catalogue served on loopback. It measures and prints; it asserts nothing.
# The tool's widgets draw with the processor alone; a second bare window that does so too
# ("raster only") shows how much of the difference is Qt 5 loading the OpenGL driver for a
# window, which the tool spares.
#
#   tools/bench/window-start.sh [--qt 5|6] [--pairs N]
#
# --qt     the toolkit to build with (default 5); each has its own build folder,
#          build-bench-window or build-bench-window-qt6 (CORVANE_BENCH_BUILD names another,
#          which must use -DCORVANE_HID_BACKEND=emulator)
# --pairs  alternating runs of each program (default 9, at least 7); one more round before
#          them warms the caches and is not counted
# CORVANE_BENCH_PORT is the catalogue server's port (default 8772; it is built into the program).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../scripts/lib.sh"
root=$corvane_root

if [ "${1:-}" = "--inside-x" ]; then
    # Under xvfb-run: alternating runs, one result line each ("bare|raster|tool MS CPU_MS RSS_KB
    # ANON_KB").
    shift
    probe=$1 bare=$2 tool=$3 emulator=$4 pairs=$5
    # A 96-dpi desktop, as desktops set it: without it Qt 5 scales by the virtual screen's
    # nominal 100 dpi and draws every picture from its @2x file.
    printf 'Xft.dpi: 96\n' | xrdb -nocpp -merge
    "$emulator" init --version 5.5.24 --boot-mode 0 >/dev/null
    for i in $(seq 0 "$pairs"); do
        for which in bare raster tool; do
            program=("$bare")
            [ "$which" = raster ] && program=("$bare" --raster-widgets)
            [ "$which" = tool ] && program=("$tool")
            line=$("$probe" --settle 1000 -- "${program[@]}" 2>/dev/null </dev/null) \
                || { echo "$which did not map a window" >&2; exit 1; }
            # The first round only warms the caches.
            [ "$i" -eq 0 ] || echo "$which $line"
        done
    done
    exit 0
fi

major=5
pairs=9
while [ $# -gt 0 ]; do
    case $1 in
    --qt)
        [[ ${2:-} =~ ^[56]$ ]] || { echo "--qt takes 5 or 6" >&2; exit 2; }
        major=$2
        shift 2
        ;;
    --pairs)
        [[ ${2:-} =~ ^[0-9]+$ ]] && [ "$2" -ge 7 ] || { echo "--pairs takes a number of 7 or more" >&2; exit 2; }
        pairs=$2
        shift 2
        ;;
    *) echo "usage: window-start.sh [--qt 5|6] [--pairs N]" >&2; exit 2 ;;
    esac
done
for tool in xvfb-run xrdb python3; do
    command -v "$tool" >/dev/null || { echo "window-start.sh needs $tool (xvfb, x11-xserver-utils, python3)" >&2; exit 2; }
done

port=${CORVANE_BENCH_PORT:-8772}
suffix=""
[ "$major" = 5 ] || suffix=-qt$major
build=${CORVANE_BENCH_BUILD:-$root/build-bench-window$suffix}
if [ -f "$build/CMakeCache.txt" ] && [ "$(cached_value "$build" CORVANE_HID_BACKEND)" != emulator ]; then
    echo "$build is not built with -DCORVANE_HID_BACKEND=emulator" >&2
    exit 2
fi
configure_build "$build" -DCMAKE_BUILD_TYPE=Release -DCORVANE_HID_BACKEND=emulator \
    -DCORVANE_QT_MAJOR="$major" -DCORVANE_BUILD_TESTS=OFF \
    -- -DCORVANE_CATALOGUE_HOST="http://127.0.0.1:$port" -DCORVANE_BUILD_BENCHMARKS=ON
cmake --build "$build" --target corvane-firmware-tool corvane-emulator bench_bare_window \
    bench_window_probe >&2
[ -x "$build/tools/bench/bench_window_probe" ] \
    || { echo "bench_window_probe was not built (it needs libxcb1-dev)" >&2; exit 2; }

work=$(mktemp -d)
cleanup() {
    [ -z "${catalogue_server_pid:-}" ] || kill "$catalogue_server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$root/tools/scripts/make-demo-catalogue.sh" "$work/www" "http://127.0.0.1:$port" >/dev/null
start_catalogue_server "$work/www" "$port" "$work/server.port"

# Both programs share one home, caches included, apart from the user's own.
mkdir -p "$work/home"
export HOME=$work/home XDG_DATA_HOME=$work/home/data XDG_CONFIG_HOME=$work/home/config \
    XDG_CACHE_HOME=$work/home/cache CORVANE_EMULATOR_STATE=$work/adapter.state QT_QPA_PLATFORM=xcb
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR QT_FONT_DPI
# Without -noreset the server would drop the loaded resources when xrdb, its first client,
# disconnects.
xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24 -noreset" \
    "$0" --inside-x "$build/tools/bench/bench_window_probe" "$build/tools/bench/bench_bare_window" \
    "$build/app/corvane-firmware-tool" "$build/tools/emulator/corvane-emulator" "$pairs" \
    >"$work/runs"

qt=$("$build/tools/bench/bench_bare_window" --qt-version)
python3 - "$work/runs" "$qt" "$pairs" "$(cut -d' ' -f1-3 /proc/loadavg)" <<'PY'
import statistics
import sys

runs, qt, pairs, load = sys.argv[1:5]
rows = {"bare": [], "raster": [], "tool": []}
with open(runs) as f:
    for line in f:
        which, ms, cpu, rss, anon = line.split()
        rows[which].append((float(ms), float(cpu), int(rss) / 1024, int(anon) / 1024))

def median(which, i):
    return statistics.median(r[i] for r in rows[which])

def row(name, which, against=None):
    ms, cpu, rss, anon = (median(which, i) for i in range(4))
    if against is None:
        return f"| {name} | {ms:.0f} ms | {cpu:.0f} ms | {rss:.1f} MB | {anon:.1f} MB |"
    bms, bcpu, brss, banon = (median(against, i) for i in range(4))
    return (f"| {name} | {ms:.0f} ms ({ms / bms:.2f}x) | {cpu:.0f} ms ({cpu / bcpu:.2f}x) "
            f"| {rss:.1f} MB ({rss - brss:+.1f} MB) | {anon:.1f} MB ({anon - banon:+.1f} MB) |")

print(f"Qt {qt}, Xvfb at 96 dpi, release build, emulated adapter attached, catalogue on loopback;")
print(f"median of {pairs} alternating runs of each, load average {load}")
print()
print("| | window mapped | processor time by then | resident memory | of it anonymous |")
print("|---|---|---|---|---|")
print(row("bare Qt window", "bare"))
print(row("corvane-firmware-tool", "tool", "bare"))
print(row("bare Qt window, raster only", "raster"))
print(row("corvane-firmware-tool against it", "tool", "raster"))
PY
