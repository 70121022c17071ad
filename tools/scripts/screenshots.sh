#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the screenshot program and saves pictures of the window's pages and both dialogs,
# for every interface language (or only those given as indexes 0-4), into ./screenshots/.
# Runs under a virtual X server (xvfb-run), so it needs no display. It shares its build folder
# (build-screenshots, or CORVANE_SCREENSHOT_BUILD) with screenshots-languages.sh.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
out=$PWD/screenshots

install_packages xvfb xauth
build=$(screenshot_build 5 corvane-screenshots)

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
