#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the screenshot program and saves pictures of the window's pages and both dialogs,
# for every interface language (or only those given as indexes 0-4), into ./screenshots/.
# Runs under a virtual X server (xvfb-run), so it needs no display. CORVANE_SCREENSHOT_BUILD
# names the build folder to use (default build-screenshots).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${CORVANE_SCREENSHOT_BUILD:-$root/build-screenshots}
out=$PWD/screenshots

if [ -f "$build/CMakeCache.txt" ]; then
    # An existing build folder (e.g. a developer's own) keeps its other settings.
    cmake -S "$root" -B "$build" -DCORVANE_BUILD_SCREENSHOTS=ON >/dev/null
else
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVANE_HID_BACKEND=emulator \
        -DCORVANE_BUILD_SCREENSHOTS=ON -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCHMARKS=OFF >/dev/null
fi
cmake --build "$build" --target corvane-screenshots -j "$(nproc)"

languages=("$@")
[ ${#languages[@]} -gt 0 ] || languages=(0 1 2 3 4)
codes=(en zh ja ru fr)
for index in "${languages[@]}"; do
    dir="$out/${codes[$index]}"
    rm -rf "$dir"
    QT_QPA_PLATFORM=xcb xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24" \
        "$build/tools/screenshots/corvane-screenshots" "$dir" "$index"
done
echo "screenshots in $out"
